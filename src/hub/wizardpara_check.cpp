// The change record of a parameter change: one "operate" record that lists
// every value the new set changes, in the operator's language.
#include "hub/wizardpara.h"

#include "foundation/qstring_tl.h"
#include "foundation/uitexttable.h"
#include "io/frameio.h"

#include <QCoreApplication>

#include <cmath>

namespace {

// Rows of the UI text table used here.
constexpr int kOpening = 235;
constexpr int kDelayFormat = 236;
constexpr int kRetimesFormat = 239;
constexpr int kSwitchFormat = 240;
constexpr int kValueFormat = 245;
constexpr int kOnWord = 250;
constexpr int kOffWord = 251;

QString tr(const char* text)
{
    return QCoreApplication::translate("WizardPara", text);
}

class ChangeText {
public:
    ChangeText(const QJsonObject& in, int lan) : m_in(in), m_lan(lan), m_text(uiText(kOpening, lan)) {}

    QString text() const { return m_text; }
    QString pair(const char* zh, const char* en) const
    {
        return QString_TL(QString::fromUtf8(zh), QString::fromUtf8(en)).value(m_lan);
    }
    QString onOff(bool on) const { return uiText(on ? kOnWord : kOffWord, m_lan); }
    bool has(const char* key) const { return m_in.contains(QLatin1String(key)); }
    double number(const char* key) const { return m_in.value(QLatin1String(key)).toDouble(); }
    int integer(const char* key) const { return m_in.value(QLatin1String(key)).toInt(); }
    bool boolean(const char* key) const { return m_in.value(QLatin1String(key)).toBool(); }
    void append(const QString& fragment) { m_text += fragment; }

    // D: stored tenths against the new seconds x 10, one decimal.
    void delay(const char* key, int storedTenths, const char* zh, const char* en)
    {
        const double now = number(key);
        if (double(storedTenths) != now * 10.0)
            append(uiText(kDelayFormat, m_lan)
                       .arg(pair(zh, en), QString::number(storedTenths / 10.0, 'f', 1), QString::number(now, 'f', 1)));
    }
    // R: re-detect count.
    void retimes(const char* key, int stored, const char* zh, const char* en)
    {
        const int now = integer(key);
        if (stored != now)
            append(uiText(kRetimesFormat, m_lan).arg(pair(zh, en), QString::number(stored), QString::number(now)));
    }
    // I: integer.
    void integerValue(const char* key, int stored, const char* zh, const char* en)
    {
        const int now = integer(key);
        if (stored != now)
            valueFragment(pair(zh, en), QString::number(stored), QString::number(now));
    }
    // P: stored tenths against the new seconds x 10, general format.
    void tenths(const char* key, int storedTenths, const char* zh, const char* en)
    {
        const double now = number(key);
        if (double(storedTenths) != now * 10.0)
            valueFragment(pair(zh, en), QString::number(storedTenths / 10.0, 'g', 6), QString::number(now, 'g', 6));
    }
    // B: switch.
    void switchValue(const char* key, bool stored, const char* zh, const char* en)
    {
        switchFragment(stored, boolean(key), pair(zh, en));
    }
    void switchFragment(bool stored, bool now, const QString& label)
    {
        if (stored != now)
            append(uiText(kSwitchFormat, m_lan).arg(label) + onOff(now));
    }
    void valueFragment(const QString& label, const QString& from, const QString& to)
    {
        append(uiText(kValueFormat, m_lan).arg(label, from, to));
    }

private:
    const QJsonObject& m_in;
    const int m_lan;
    QString m_text;
};

// The name of a run mode or turntable value; a value without a name shows
// as its number.
QString choice(const QStringList& names, int value)
{
    return value >= 0 && value < names.size() ? names.at(value) : QString::number(value);
}

}  // namespace

QString WizardPara::changeText(const QJsonObject& in, int lan) const
{
    ChangeText c(in, lan);
    FrameIO_Params io;
    if (m_io)
        io = m_io->getParams();

    c.delay("s_product_delaytime", s_product_delaytime, "成品", "Prod");
    c.delay("s_moulding_delaytime", s_moulding_delaytime, "模腔", "Mold");
    c.retimes("s_moulding_retimes", s_moulding_retimes, "模腔", "Mold");
    c.integerValue("s_filtersize", s_filtersize, "过滤尺寸", "filter Size");
    c.integerValue("s_alarmareas", s_alarmareas, "报警面积", "Area");
    c.switchValue("s_action_productdetect", s_action_productdetect, "启用成品检测", "Enable detection prod");
    c.switchValue("s_with_moulding_product", s_with_moulding_product, "模腔参数同步成品参数", "Two same parameters");
    c.switchValue("s_semi_automatic", s_semi_automatic, "半自动", "Semiauto");
    c.switchValue("s_sport_correction", s_sport_correction, "运动矫正", "Motion correcte");
    if (c.has("c_defect_canny_ingore")) {
        const bool now = c.boolean("c_defect_canny_ingore");
        if (now != c_defect_canny_ingore)
            c.append(c.pair("修改为：缺陷检测边缘忽略.", "Fix: Independent control of cavity detection in the mold.")
                     + c.onOff(now));
    }
    c.switchValue("c_grayrepcolor", c_grayrepcolor, "灰度通道替代颜色通道", "Gray channel instead of color");
    c.switchValue("c_detailarithmetic", c_detailarithmetic, "显示算法详细参数", "Display all the parameters");
    c.switchValue("c_start_flawdetect", c_start_flawdetect, "启用缺陷检测算法", "Enable the defect detection algorithm");
    c.switchValue("c_start_spotdetect", c_start_spotdetect, "启用斑点检测算法", "Enable the spot detection algorithm");
    c.switchValue("c_start_ignoredetect", c_start_ignoredetect, "启用忽略区域算法", "Enable ignore area algorithm");
    c.switchValue("c_manual_location", c_manual_location, "启用手动编辑定位区域",
                  "Enable manually editing to locate area");
    c.switchValue("c_blackspotarea", c_blackspotarea, "启用黑斑面积", "Enable black area");
    c.switchValue("c_whitespotarea", c_whitespotarea, "启用白斑面积", "Enable white area");
    c.switchValue("c_similarity", c_similarity, "启用相似度", "Enable similarity");
    c.switchValue("c_whitespotnum", c_whitespotnum, "启用白斑个数", "Enable white number");
    c.tenths("i_thimble_pulse", i_thimble_pulse, "顶针脉冲", "Ejector P");
    c.tenths("i_closemold_pulse", i_closemold_pulse, "合模脉冲", "Clamp P");
    c.tenths("i_precut", i_precut, "前切合模", "Pre-Cut");
    {
        const double now = c.number("i_inputtimeout");
        if (io.inputtimeout != std::trunc(now))
            c.valueFragment(c.pair("输入超时", "I-Time"), QString::number(io.inputtimeout, 'g', 6),
                            QString::number(now, 'g', 6));
    }
    c.integerValue("i_backup_input_sub", io.backup_input_sub, "备用输入代替", "Iuput 4 used for");
    c.integerValue("i_backup_output_sub", io.backup_output_sub, "备用输出代替", "Output 4 used for");
    c.tenths("i_shakeerase_time", io.shakeerase_time, "去抖时长", "Shake erase time");
    c.integerValue("i_output1_init_status", io.output_init_status[0], "输出1初始状态", "Output 1 initial state");
    c.integerValue("i_output2_init_status", io.output_init_status[1], "输出2初始状态", "Output 2 initial state");
    c.integerValue("i_output3_init_status", io.output_init_status[2], "警报初始状态", "Alarm initial state");
    c.integerValue("i_output4_init_status", io.output_init_status[3], "输出4初始状态", "Output 4 initial state");
    {
        const QStringList models{tr("标准机"), tr("双色机"), tr("转盘机")};
        const int now = c.integer("i_program_logic");
        if (now != i_program_logic)
            c.valueFragment(tr("运行模式"), choice(models, i_program_logic), choice(models, now));
        const QStringList moulds{tr("左右模"), tr("左模"), tr("右模")};
        const int mould = c.integer("i_program_turntable_type");
        if (mould != i_program_turntable_type)
            c.valueFragment(tr("模号"), choice(moulds, i_program_turntable_type), choice(moulds, mould));
    }
    c.switchValue("i_isCloseAllow", i_isCloseAllow, "停止检测时禁止合模", "Stop clamping when stopping detection");
    {
        const bool now = c.boolean("i_isCloseAllow_thimeble");
        if (now != i_isCloseAllow_thimeble)
            c.append(uiText(kSwitchFormat, lan).arg(c.pair("停止检测时禁止顶针", "Stop ejection when testing is stopped"))
                     + (now ? c.pair("启用", "active") : c.pair("不用", "deactive")));
    }
    c.switchValue("i_isCloseCut", i_isCloseCut, "合模时切断顶针", "Cut ejector when clamping");
    c.switchValue("i_isNG0NoCut", i_isNG0NoCut, "成品检测不控制顶针信号", "No ejector signal control in prod");
    c.switchValue("i_isNG1OK2", i_isNG1OK2, "OK和NG各输出脉冲", "OK and NG output pulses");
    c.switchValue("i_isClosePulse", i_isClosePulse, "模腔检测OK后定时切断合模",
                  "Cut the clamping at fixed time after mold ok");
    c.switchValue("i_isThimblePulse", i_isThimblePulse, "成品检测OK后定时切断顶针",
                  "Cut the ejector at fixed time after Prod ok");
    c.switchValue("i_isSafeDoorDealAlarm", i_isSafeDoorDealAlarm, "先开安全门才能解除警报",
                  "Open the safety door to lift the alarm");
    c.switchValue("i_isAllSafeDoor", i_isAllSafeDoor, "安全门触发检测", "Safety door trigger detection");
    c.switchValue("i_isNG0CutT", i_isNG0CutT, "成品检测警报时切断顶针信号", "Cut ejector signal when pro detect alarm");
    c.switchValue("i_isNG1CutT", i_isNG1CutT, "模腔检测警报时切断合模信号", "Cut clamp signal when mold detect alarm");
    if (c.has("i_isNG0Pulse_Muti") && c.has("i_isNG1Pulse_Muti")) {
        auto word = [&](int v) {
            return v == 1 ? c.pair("不报警", "No Alarm") : v == 2 ? c.pair("报警", "Alarm") : c.pair("关闭", "Close");
        };
        const int ng0 = c.integer("i_isNG0Pulse_Muti");
        if (ng0 != i_isNG0Pulse_Muti)
            c.append(c.pair("修改为：成品检测NG时顶针输出脉冲，不停机.",
                            "Fix: When the finished product inspection is NG, the ejector pin output pulse is output "
                            "without stopping the machine.")
                     + word(ng0));
        const int ng1 = c.integer("i_isNG1Pulse_Muti");
        if (ng1 != i_isNG1Pulse_Muti)
            c.append(c.pair("修改为：成品检测NG时顶针输出脉冲，不停机.",
                            "Fix: The mold cavity detection NG output pulse is not alarmed and shut down when the mold "
                            "is closed.")
                     + word(ng1));
    } else {
        const bool ng0 = c.boolean("i_isNG0Pulse");
        if (i_isNG0Pulse_Muti != (ng0 ? 1 : 0))
            c.append(uiText(kSwitchFormat, lan)
                         .arg(c.pair("成品检测NG时顶针输出脉冲，不报警停机", "Ejector pulse when NG in prod, don't' alarm"))
                     + c.onOff(ng0));
        const bool ng1 = c.boolean("i_isNG1Pulse");
        if (i_isNG1Pulse_Muti != (ng1 ? 1 : 0))
            c.append(uiText(kSwitchFormat, lan)
                         .arg(c.pair("模腔检测NG时，合模输出脉冲，不停机",
                                     "When the mold cavity is detected as NG, the mold is closed and the pulse is "
                                     "output without stopping the machine."))
                     + c.onOff(ng1));
    }
    if (c.has("i_ng_trig2redetect")) {
        const bool now = c.boolean("i_ng_trig2redetect");
        if (now != i_ng_trig2redetect)
            c.append(c.pair("修改为：NG后再次触发，执行重新检测.",
                            "Fix: When the finished product detects NG, the thimble output pulse without stopping.")
                     + c.onOff(now));
    }
    if (c.has("i_i0i1_IndependentControl_o0o1")) {
        const bool now = c.boolean("i_i0i1_IndependentControl_o0o1");
        if (now != i_i0i1_IndependentControl_o0o1)
            c.append(c.pair("修改为：成品模腔检测独立控制顶针合模.",
                            "Open the finished mold cavity for inspection and independently control the thimble "
                            "clamping.")
                     + c.onOff(now));
    }
    if (c.has("i_input3NoCheck") && c.has("i_closeNGBuzzer_Muti")) {
        const bool now = c.boolean("i_input3NoCheck");
        if (now != i_input3NoCheck)
            c.append(c.pair("修改：输入信号4时，执行不检测此模。",
                            "Modified: When input signal 4, execute do not detect this mode.")
                     + (now ? c.pair("开启", "Open") : c.pair("关闭", "Close")));
        const int buzzer = c.integer("i_closeNGBuzzer_Muti");
        if (buzzer != i_closeNGBuzzer_Muti)
            c.append(c.pair("修改：关闭NG时报警声。", "Modified: Alarm sound when NG is turned off.")
                     + (buzzer == 1   ? c.pair("开启 1", "Alarm sound when NG is always on")
                        : buzzer == 2 ? c.pair("开启 2", "Alarm sound when NG is always off")
                                      : c.pair("关闭", "Close")));
    }
    c.switchFragment(i_NG0Redect_SafeDoor, c.boolean("i_NG0Redect_SafeDoor"), tr("成品NG后,安全门关闭时，重检成品"));
    {
        const bool now = c.boolean("i_program_logic_custom");
        if (i_program_logic_custom != (now ? 1 : 0))
            c.append(uiText(kSwitchFormat, lan).arg(tr("自定义")) + c.onOff(now));
    }
    c.integerValue("h_mostskewing", h_mostskewing, "最大偏移", "Offset");
    c.integerValue("h_diffmultiple", h_diffmultiple, "差异倍数", "Amplify");
    c.integerValue("h_minspot", h_minspot, "最小斑点", "Min Spot");
    c.integerValue("h_rotatecorrect", h_rotatecorrect, "旋转矫正", "Angle");
    c.integerValue("h_temp_count", h_temp_count, "模板张数", "Temp number");
    c.integerValue("h_okres_count", h_okres_count, "OK图记录", "OK-Rec");
    c.integerValue("h_ngres_count", h_ngres_count, "NG图记录", "NG-Rec");
    c.switchValue("h_startlog", h_startlog, "启用日志", "Use Log");
    c.switchValue("h_disp_fac_params", h_disp_fac_params, "显示厂家参数", "Display factory param");
    c.switchValue("h_realtime_disp_roi", h_realtime_disp_roi, "实时显示ROI", "real-time display ROI");
    c.switchValue("h_use_ngtemp", h_use_ngtemp, "模板为NG图像", "NG image");
    c.switchValue("h_is_recheck_only_ng_camera", h_is_recheck_only_ng_camera, "复检时仅检测NG相机",
                  "Only the NG cameras are tested during the re-inspection.");
    c.switchValue("h_camera_single_sample", h_camera_single_sample, "相机单独采样", "Camera sampling separately.");
    return c.text();
}

void WizardPara::CheckParam(const QJsonObject& in) const
{
    const QString text = changeText(in, gLan.load());
    if (m_host)
        m_host->InsertRecord(text, QStringLiteral("operate"));
}
