// Import of the older storage form: one "sysparam" row per group of values,
// each a line of whitespace-separated numbers.
#include "foundation/logmanager.h"
#include "hub/wizardpara.h"

#include "foundation/qstring_tl.h"
#include "inspection/camerastoreservices.h"
#include "io/frameio.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <optional>

namespace {

// The numbers of one legacy row, by 1-based position. A token that is not a
// number reads 0 and keeps its place; a position past the end reads 0.
class LegacyRow {
public:
    explicit LegacyRow(const QString& text)
        : m_tokens(text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
    {
    }
    int count() const { return m_tokens.size(); }
    bool hasPosition(int pos) const { return pos >= 1 && pos <= m_tokens.size(); }
    int i(int pos) const
    {
        if (!hasPosition(pos))
            return 0;
        bool ok = false;
        const qlonglong v = m_tokens.at(pos - 1).toLongLong(&ok);
        return ok ? static_cast<int>(v) : 0;
    }
    bool b(int pos) const { return i(pos) != 0; }
    double d(int pos) const
    {
        if (!hasPosition(pos))
            return 0.0;
        bool ok = false;
        const double v = m_tokens.at(pos - 1).toDouble(&ok);
        return ok ? v : 0.0;
    }

private:
    QStringList m_tokens;
};

std::optional<LegacyRow> readRow(const char* name)
{
    QSqlQuery q(paramDatabase());
    q.prepare(QStringLiteral("select value from sysparam where name=?"));
    q.addBindValue(QLatin1String(name));
    if (!q.exec() || !q.next())
        return std::nullopt;
    return LegacyRow(q.value(0).toString());
}

void insertDefaultRow(const char* name, const char* value)
{
    QSqlQuery q(paramDatabase());
    q.prepare(QStringLiteral("insert into sysparam (name, value) values (?, ?)"));
    q.addBindValue(QLatin1String(name));
    q.addBindValue(QLatin1String(value));
    if (!q.exec())
        qCWarning(level_1) << "cannot add the legacy row" << name << ":" << q.lastError().text();
}

}  // namespace

void WizardPara::LoadDatafromFile()
{
    gCamareIndex = -1;

    if (auto r = readRow("trigInDelay")) {
        s_product_delaytime = r->i(1);
        s_moulding_delaytime = r->i(2);
        trigInDelay_3 = r->i(3);
        trigInDelay_4 = r->i(4);
        i_thimble_pulse = r->i(5);
        i_closemold_pulse = r->i(6);
        i_precut = r->i(7);
        const quint32 flags = static_cast<quint32>(r->i(8));
        i_isCloseAllow = (flags & 0xffu) != 0;
        i_isCloseCut = ((flags >> 8) & 0xffu) != 0;
        i_isNG0NoCut = ((flags >> 16) & 0xffu) != 0;
        i_isNG0CutT = ((flags >> 24) & 0xffu) != 0;
    }
    if (auto r = readRow("exposeTime"))
        gCamareIndex = r->i(2);
    if (auto r = readRow("numFailDetect")) {
        numFailDetect_3 = r->b(3);
        numFailDetect_4 = r->b(4);
        numFailDetect_5 = r->b(5);
        c_blackspotarea = r->b(6);
        c_whitespotarea = r->b(7);
        c_similarity = r->b(8);
    }
    if (auto r = readRow("system1")) {
        s_semi_automatic = r->b(1);
        s_action_productdetect = r->b(2);
        s_with_moulding_product = r->b(3);
        s_sport_correction = r->i(4) != -1;
        i_isCloseAllow = r->b(5);
        i_precut = r->i(6);
        s_moulding_retimes = r->i(7);
        h_okres_count = r->i(8);
        system1_9 = r->b(9);
        c_defect_canny_ingore = r->b(10);
    }
    if (auto r = readRow("system2")) {
        i_isCloseCut = r->b(1);
        h_temp_count = r->i(2);
        h_minspot = r->i(3);
        h_ngres_count = r->i(4);
        i_thimble_pulse = r->i(5);
        i_closemold_pulse = r->i(6);
        i_isClosePulse = r->b(8);
        i_isNG0NoCut = r->b(9);
        system2_10 = r->b(10);
        system2_11 = r->b(11);
        system2_12 = r->b(12);
        gLan.store(r->i(13));
        const int backupOut = r->i(14);
        if (m_io)
            m_io->editParams([&](FrameIO_Params& p) { p.backup_output_sub = backupOut; });
        h_mostskewing = r->i(15);
        system2_16 = r->i(16);
        system2_17 = r->i(17);
        if (m_io)
            m_io->setIO_NoInputTip_LimitTime(r->d(18));
        i_isNG0Pulse_Muti = r->i(19);
        i_isNG1Pulse_Muti = r->i(20);
        if (r->hasPosition(21))
            i_input3NoCheck = r->b(21);
        if (r->hasPosition(22))
            i_closeNGBuzzer_Muti = r->i(22);
    }
    if (auto r = readRow("system3")) {
        const int backupIn = r->i(1);
        if (m_io)
            m_io->editParams([&](FrameIO_Params& p) { p.backup_input_sub = backupIn; });
        i_isSafeDoorDealAlarm = r->b(2);
        h_diffmultiple = r->i(3);
        c_start_flawdetect = r->b(4);
        c_start_spotdetect = r->b(5);
        c_start_ignoredetect = r->b(6);
        c_manual_location = r->b(7);
        c_detailarithmetic = r->b(8);
        system3_10 = r->b(10);
        i_isAllSafeDoor = r->b(11);
    }
    if (auto r = readRow("system4")) {
        s_filtersize = r->i(14);
        s_alarmareas = r->i(15);
    }
    if (auto r = readRow("system5")) {
        i_isNG1OK2 = r->b(9);
        h_rotatecorrect = r->i(10);
        i_isNG0CutT = r->b(11);
        system5_12 = r->b(12);
        i_isNG1CutT = r->b(13);
    }
    if (auto r = readRow("system6")) {
        const int shake = r->i(9);
        if (m_io)
            m_io->editParams([&](FrameIO_Params& p) { p.shakeerase_time = shake; });
        system6_10 = r->b(10);
        system6_12 = r->b(12);
    }
    if (auto r = readRow("system7")) {
        system7_1 = r->i(1);
        c_grayrepcolor = r->b(3);
        system7_4 = r->b(4);
        const int rest[8] = {r->i(5), r->i(6), r->i(7), r->i(9), r->i(15), r->i(16), r->i(17), r->i(18)};
        h_disp_fac_params = r->b(10);
        h_use_ngtemp = r->b(11);
        h_camera_single_sample = r->b(12);
        h_realtime_disp_roi = r->b(13);
        system7_14 = r->b(14);
        if (m_io)
            m_io->setIO_TrigOut(rest);
        c_whitespotnum = r->b(20);
        h_is_recheck_only_ng_camera = r->b(21);
    } else {
        insertDefaultRow("system7", "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    }
    if (auto r = readRow("system8")) {
        i_isThimblePulse = r->b(18);
        h_startlog = r->b(19);
    } else {
        insertDefaultRow("system8", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    }
    if (auto r = readRow("system9")) {
        for (int k = 0; k < 16; ++k)
            system9[k] = r->b(6 + k);
    } else {
        insertDefaultRow("system9", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    }
    if (auto r = readRow("system10")) {
        i_program_logic = r->i(1);
        i_program_logic_custom = r->i(2) != 0 ? 1 : 0;
        i_program_turntable_type = r->i(3);
        i_NG0Redect_SafeDoor = r->b(17);
    } else {
        insertDefaultRow("system10", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    }

    CheckParamRange();
    SetFuncParams();
}
