#include "hub/wizardpara.h"

#include "foundation/logmanager.h"
#include "foundation/qstring_tl.h"
#include "hub/hubhooks.h"
#include "inspection/camerastoreservices.h"
#include "io/frameio.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>

std::atomic<int> gPicNumOK{0};
std::atomic<int> gPicNumNG{0};

namespace {

constexpr int kMaxImageCount = 10000;

// Seconds as a double -> tenths, truncated toward zero; beyond the int range
// the value saturates, and a value that is not a number reads 0.
int tenthsOf(double seconds)
{
    const double v = seconds * 10.0;
    if (std::isnan(v))
        return 0;
    if (v >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(v);
}

int intOf(const QJsonObject& in, const char* key)
{
    return in.value(QLatin1String(key)).toInt();
}

bool boolOf(const QJsonObject& in, const char* key)
{
    return in.value(QLatin1String(key)).toBool();
}

bool has(const QJsonObject& in, const char* key)
{
    return in.contains(QLatin1String(key));
}

// The hub's PARAM.db connection, opened again when it was closed
// (FLushAll closes it).
QSqlDatabase openParamDb()
{
    QSqlDatabase db = paramDatabase();
    if (db.isValid() && !db.isOpen() && !db.open())
        qCWarning(level_1) << "PARAM.db will not open:" << db.lastError().text();
    return db;
}

// The value of row `name` of `table` (a plain name) on `db`; empty when none.
QString tableValue(const QSqlDatabase& db, const QString& table, const QString& name)
{
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("select value from %1 where name=?").arg(table)))
        return QString();
    q.addBindValue(name);
    if (!q.exec() || !q.next())
        return QString();
    return q.value(0).toString();
}

bool isPlainName(const QString& name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return re.match(name).hasMatch();
}

// An image count outside 0..10000 would make the writer's trim misbehave:
// it is taken as 0 (no file of that kind), with a warning.
int imageCount(const QJsonObject& in, const char* key)
{
    const int v = intOf(in, key);
    if (v < 0 || v > kMaxImageCount) {
        qCWarning(level_1).noquote() << QStringLiteral("process parameter %1 = %2 is outside 0..%3: taken as 0")
                                    .arg(QLatin1String(key))
                                    .arg(v)
                                    .arg(kMaxImageCount);
        return 0;
    }
    return v;
}

// The unsigned range check: a negative value is out of range too.
void inRange(int& v, unsigned lo, unsigned hi, int replacement)
{
    const unsigned u = static_cast<unsigned>(v);
    if (u < lo || u > hi)
        v = replacement;
}

}  // namespace

WizardPara::WizardPara(WizardParaHost* host, FrameIO* io)
    : m_host(host), m_io(io), m_thread(QThread::currentThread())
{
}

// ---- JSON form -------------------------------------------------------------------

void WizardPara::GetParams(QJsonObject& out) const
{
    out.insert("s_moulding_delaytime", s_moulding_delaytime / 10.0);
    out.insert("s_product_delaytime", s_product_delaytime / 10.0);
    out.insert("s_moulding_retimes", s_moulding_retimes);
    out.insert("s_filtersize", s_filtersize);
    out.insert("s_alarmareas", s_alarmareas);
    out.insert("s_action_productdetect", s_action_productdetect);
    out.insert("s_semi_automatic", s_semi_automatic);
    out.insert("s_with_moulding_product", s_with_moulding_product);
    out.insert("s_sport_correction", s_sport_correction);

    out.insert("c_defect_canny_ingore", c_defect_canny_ingore);
    out.insert("c_start_flawdetect", c_start_flawdetect);
    out.insert("c_start_spotdetect", c_start_spotdetect);
    out.insert("c_start_ignoredetect", c_start_ignoredetect);
    out.insert("c_manual_location", c_manual_location);
    out.insert("c_detailarithmetic", c_detailarithmetic);
    out.insert("c_grayrepcolor", c_grayrepcolor);
    out.insert("c_blackspotarea", c_blackspotarea);
    out.insert("c_whitespotarea", c_whitespotarea);
    out.insert("c_whitespotnum", c_whitespotnum);
    out.insert("c_similarity", c_similarity);

    out.insert("i_thimble_pulse", i_thimble_pulse / 10.0);
    out.insert("i_closemold_pulse", i_closemold_pulse / 10.0);
    out.insert("i_precut", i_precut / 10.0);
    out.insert("i_isCloseAllow", i_isCloseAllow);
    out.insert("i_isCloseAllow_thimeble", i_isCloseAllow_thimeble);
    out.insert("i_isCloseCut", i_isCloseCut);
    out.insert("i_isNG0NoCut", i_isNG0NoCut);
    out.insert("i_isNG1OK2", i_isNG1OK2);
    out.insert("i_isClosePulse", i_isClosePulse);
    out.insert("i_isThimblePulse", i_isThimblePulse);
    out.insert("i_isAllSafeDoor", i_isAllSafeDoor);
    out.insert("i_isNG0CutT", i_isNG0CutT);
    out.insert("i_isNG1CutT", i_isNG1CutT);
    out.insert("i_NG0Redect_SafeDoor", i_NG0Redect_SafeDoor);
    out.insert("i_isNG0Pulse_Muti", i_isNG0Pulse_Muti);
    out.insert("i_isNG1Pulse_Muti", i_isNG1Pulse_Muti);
    out.insert("i_isNG0Pulse", i_isNG0Pulse_Muti != 0);
    out.insert("i_isNG1Pulse", i_isNG1Pulse_Muti != 0);
    out.insert("i_input3NoCheck", i_input3NoCheck);
    out.insert("i_closeNGBuzzer_Muti", i_closeNGBuzzer_Muti);
    out.insert("i_ng_trig2redetect", i_ng_trig2redetect);
    out.insert("i_i0i1_IndependentControl_o0o1", i_i0i1_IndependentControl_o0o1);
    out.insert("i_program_logic", i_program_logic);
    out.insert("i_program_logic_custom", i_program_logic_custom);
    out.insert("i_program_turntable_type", i_program_turntable_type);

    if (m_io) {
        const FrameIO_Params p = m_io->getParams();
        out.insert("i_output1_init_status", p.output_init_status[0]);
        out.insert("i_output2_init_status", p.output_init_status[1]);
        out.insert("i_output3_init_status", p.output_init_status[2]);
        out.insert("i_output4_init_status", p.output_init_status[3]);
        out.insert("i_shakeerase_time", p.shakeerase_time / 10.0);
        out.insert("i_inputtimeout", p.inputtimeout);
        out.insert("i_backup_output_sub", p.backup_output_sub);
        out.insert("i_backup_input_sub", p.backup_input_sub);
    }

    out.insert("h_mostskewing", h_mostskewing);
    out.insert("h_diffmultiple", h_diffmultiple);
    out.insert("h_minspot", h_minspot);
    out.insert("h_rotatecorrect", h_rotatecorrect);
    out.insert("h_temp_count", h_temp_count);
    out.insert("h_okres_count", h_okres_count);
    out.insert("h_ngres_count", h_ngres_count);
    out.insert("h_startlog", h_startlog);
    out.insert("h_disp_fac_params", h_disp_fac_params);
    out.insert("h_realtime_disp_roi", h_realtime_disp_roi);
    out.insert("h_use_ngtemp", h_use_ngtemp);
    out.insert("h_camera_single_sample", h_camera_single_sample);
    out.insert("h_is_recheck_only_ng_camera", h_is_recheck_only_ng_camera);
    // The group list reads PARAM.db, whose connection belongs to the thread
    // that made this set; other threads get the set without it.
    if (QThread::currentThread() == m_thread)
        out.insert("h_project_paramgroups", QJsonArray::fromStringList(GetProjectList()));
}

void WizardPara::SetParamfromJson(const QJsonObject& in)
{
    // 1. Unconditional keys: a missing key reads 0 or false.
    s_moulding_delaytime = tenthsOf(in.value("s_moulding_delaytime").toDouble());
    s_product_delaytime = tenthsOf(in.value("s_product_delaytime").toDouble());
    s_moulding_retimes = intOf(in, "s_moulding_retimes");
    s_filtersize = intOf(in, "s_filtersize");
    s_alarmareas = intOf(in, "s_alarmareas");
    s_action_productdetect = boolOf(in, "s_action_productdetect");
    s_semi_automatic = boolOf(in, "s_semi_automatic");
    s_with_moulding_product = boolOf(in, "s_with_moulding_product");
    s_sport_correction = boolOf(in, "s_sport_correction");
    c_start_flawdetect = boolOf(in, "c_start_flawdetect");
    c_start_spotdetect = boolOf(in, "c_start_spotdetect");
    c_start_ignoredetect = boolOf(in, "c_start_ignoredetect");
    c_manual_location = boolOf(in, "c_manual_location");
    c_detailarithmetic = boolOf(in, "c_detailarithmetic");
    c_grayrepcolor = boolOf(in, "c_grayrepcolor");
    c_blackspotarea = boolOf(in, "c_blackspotarea");
    c_whitespotarea = boolOf(in, "c_whitespotarea");
    c_whitespotnum = boolOf(in, "c_whitespotnum");
    c_similarity = boolOf(in, "c_similarity");
    i_thimble_pulse = tenthsOf(in.value("i_thimble_pulse").toDouble());
    i_closemold_pulse = tenthsOf(in.value("i_closemold_pulse").toDouble());
    i_precut = tenthsOf(in.value("i_precut").toDouble());
    i_isCloseAllow = boolOf(in, "i_isCloseAllow");
    i_isCloseAllow_thimeble = boolOf(in, "i_isCloseAllow_thimeble");
    i_isCloseCut = boolOf(in, "i_isCloseCut");
    i_isNG0NoCut = boolOf(in, "i_isNG0NoCut");
    i_isNG1OK2 = boolOf(in, "i_isNG1OK2");
    i_isClosePulse = boolOf(in, "i_isClosePulse");
    i_isThimblePulse = boolOf(in, "i_isThimblePulse");
    i_isSafeDoorDealAlarm = boolOf(in, "i_isSafeDoorDealAlarm");
    i_isAllSafeDoor = boolOf(in, "i_isAllSafeDoor");
    i_isNG0CutT = boolOf(in, "i_isNG0CutT");
    i_isNG1CutT = boolOf(in, "i_isNG1CutT");
    i_NG0Redect_SafeDoor = boolOf(in, "i_NG0Redect_SafeDoor");

    // 2. Keys taken only when present.
    if (has(in, "c_defect_canny_ingore"))
        c_defect_canny_ingore = boolOf(in, "c_defect_canny_ingore");
    if (has(in, "i_isNG0Pulse_Muti") && has(in, "i_isNG1Pulse_Muti")) {
        i_isNG0Pulse_Muti = intOf(in, "i_isNG0Pulse_Muti");
        i_isNG1Pulse_Muti = intOf(in, "i_isNG1Pulse_Muti");
    } else {
        i_isNG0Pulse_Muti = boolOf(in, "i_isNG0Pulse") ? 1 : 0;
        i_isNG1Pulse_Muti = boolOf(in, "i_isNG1Pulse") ? 1 : 0;
    }
    if (has(in, "i_input3NoCheck"))
        i_input3NoCheck = boolOf(in, "i_input3NoCheck");
    if (has(in, "i_closeNGBuzzer_Muti"))
        i_closeNGBuzzer_Muti = intOf(in, "i_closeNGBuzzer_Muti");
    if (has(in, "i_ng_trig2redetect"))
        i_ng_trig2redetect = boolOf(in, "i_ng_trig2redetect");
    if (has(in, "i_i0i1_IndependentControl_o0o1")) {
        i_i0i1_IndependentControl_o0o1 = boolOf(in, "i_i0i1_IndependentControl_o0o1");
        if (i_i0i1_IndependentControl_o0o1)
            s_semi_automatic = true;
    }

    // 3. Run mode.
    i_program_logic = intOf(in, "i_program_logic");
    i_program_logic_custom = intOf(in, "i_program_logic_custom");
    i_program_turntable_type = intOf(in, "i_program_turntable_type");

    // 4. The values kept in the IO frame.
    if (m_io) {
        const int rest[8] = {intOf(in, "i_output1_init_status"), intOf(in, "i_output2_init_status"),
                             intOf(in, "i_output3_init_status"), intOf(in, "i_output4_init_status"),
                             0, 0, 0, 0};
        m_io->setIO_TrigOut(rest);
        const int backupOut = intOf(in, "i_backup_output_sub");
        const int backupIn = intOf(in, "i_backup_input_sub");
        m_io->editParams([&](FrameIO_Params& p) {
            p.backup_output_sub = backupOut;
            p.backup_input_sub = backupIn;
        });
        m_io->setIO_NoInputTip_LimitTime(in.value("i_inputtimeout").toDouble());
        const int shake = tenthsOf(in.value("i_shakeerase_time").toDouble());
        m_io->editParams([&](FrameIO_Params& p) { p.shakeerase_time = shake; });
    }

    // 5. Advanced.
    h_mostskewing = intOf(in, "h_mostskewing");
    h_diffmultiple = intOf(in, "h_diffmultiple");
    h_minspot = intOf(in, "h_minspot");
    h_rotatecorrect = intOf(in, "h_rotatecorrect");
    h_temp_count = intOf(in, "h_temp_count");
    h_okres_count = imageCount(in, "h_okres_count");
    h_ngres_count = imageCount(in, "h_ngres_count");
    h_startlog = boolOf(in, "h_startlog");
    h_disp_fac_params = boolOf(in, "h_disp_fac_params");
    h_realtime_disp_roi = boolOf(in, "h_realtime_disp_roi");
    h_use_ngtemp = boolOf(in, "h_use_ngtemp");
    h_camera_single_sample = boolOf(in, "h_camera_single_sample");
    h_is_recheck_only_ng_camera = boolOf(in, "h_is_recheck_only_ng_camera");

    // 6. Limits of the alarm-image writer and the function switches.
    gPicNumNG.store(h_ngres_count);
    gPicNumOK.store(h_okres_count);
    function_switches[0] = s_action_productdetect ? 1 : 0;
    SetFuncParams();
}

void WizardPara::SetFuncParams()
{
    const int product = s_action_productdetect ? 1 : 0;
    function_switches[0] = product;
    function_switches[1] = 1;
    function_switches[2] = product;
    function_switches[3] = 1;
}

void WizardPara::CheckParamRange()
{
    inRange(i_precut, 0, 10000, 0);
    inRange(s_moulding_retimes, 0, 10000, 0);
    inRange(s_filtersize, 1, 100, 3);
    inRange(s_alarmareas, 1, 100000, 100);
    inRange(h_temp_count, 1, 100, 10);
    inRange(h_ngres_count, 0, 10000, 0);
    inRange(h_okres_count, 0, 10000, 0);
    inRange(i_thimble_pulse, 0, 10000, 0);
    inRange(i_closemold_pulse, 0, 10000, 0);
    inRange(h_rotatecorrect, 0, 180, 0);
    inRange(h_diffmultiple, 0, 4, 0);
    inRange(h_mostskewing, 1, 8000, 8000);
    if (system2_16 != 0)
        inRange(system2_16, 30, 9999, 600);
    inRange(system2_17, 0, 100, 12);
    if (static_cast<unsigned>(gLan.load()) > 2)
        gLan.store(0);
    inRange(system7_1, 0, 100, 0);
    inRange(h_minspot, 1, 100, 3);
    if (!c_start_flawdetect && !c_start_spotdetect && !c_blackspotarea && !c_whitespotarea && !c_similarity
        && !c_whitespotnum)
        c_start_flawdetect = true;
    gPicNumNG.store(h_ngres_count);
    gPicNumOK.store(h_okres_count);
}

void WizardPara::GetIO_Output_Defalut(QJsonObject& out) const
{
    if (!m_io)
        return;
    const FrameIO_Params p = m_io->getParams();
    for (int n = 0; n < 4; ++n)
        out.insert(QStringLiteral("initstate_O%1").arg(n + 1), p.output_init_status[n] != 0);
}

// ---- change sequence ---------------------------------------------------------------

void WizardPara::SetParams(const QJsonObject& in)
{
    CheckParam(in);
    SetParamfromJson(in);
    if (m_host)
        m_host->applyToCamera(in, s_with_moulding_product && s_action_productdetect);
    if (i_program_logic_custom == 0) {
        if (FlowRebuild* flow = FlowRebuild::instance())
            flow->rebuildFlow(i_program_logic);
        else
            qInfo() << "process parameters changed: no flow to rebuild yet";
    }
    if (m_host)
        m_host->restartWork();
}

// ---- PARAM.db ----------------------------------------------------------------------

bool WizardPara::ensureTable() const
{
    QSqlDatabase db = openParamDb();
    if (!db.isOpen()) {
        qCWarning(level_1) << "PARAM.db is not open: process parameters are not read or stored";
        return false;
    }
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name='sysparam'")) && q.next())
        return true;
    q.finish();
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS sysparam (name TEXT, value TEXT)"))) {
        qCWarning(level_1) << "PARAM.db has no sysparam table and it cannot be created:" << q.lastError().text();
        return false;
    }
    qCWarning(level_1) << "PARAM.db had no sysparam table: created it empty";
    return true;
}

QString WizardPara::GetTableValue(const QString& table, const QString& name) const
{
    if (!isPlainName(table)) {
        qCWarning(level_1) << "refused a read of table" << table << ": not a plain table name";
        return QString();
    }
    if (QThread::currentThread() == m_thread)
        return tableValue(openParamDb(), table, name);
    // The hub's connection belongs to its thread: another thread reads on a
    // read-only copy of it made for this one read.
    static std::atomic<quint64> serial{0};
    const QString connection = QStringLiteral("%1_reader_%2").arg(QLatin1String(kParamDbConnection)).arg(++serial);
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::cloneDatabase(QLatin1String(kParamDbConnection), connection);
        if (!db.isValid()) {
            qCWarning(level_1) << "PARAM.db is not open: no" << name << "read";
            return QString();
        }
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open())
            value = tableValue(db, table, name);
        else
            qCWarning(level_1) << "PARAM.db will not open for a read of" << name << ":" << db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return value;
}

int WizardPara::Replace_KeyValue(const QString& table, const QString& name, const QString& value)
{
    if (!isPlainName(table)) {
        qCWarning(level_1) << "refused a write to table" << table << ": not a plain table name";
        return -1;
    }
    QSqlDatabase db = openParamDb();
    if (!db.isOpen()) {
        qCWarning(level_1) << "PARAM.db is not open: row" << name << "not stored";
        return -1;
    }
    if (!db.transaction()) {
        qCWarning(level_1) << "PARAM.db: cannot begin a transaction for row" << name << ":" << db.lastError().text();
        return -1;
    }
    bool ok = false;
    {
        QSqlQuery q(db);
        ok = q.prepare(QStringLiteral("update %1 set value=? where name=?").arg(table));
        q.addBindValue(value);
        q.addBindValue(name);
        ok = ok && q.exec();
        if (ok && q.numRowsAffected() == 0) {
            ok = q.prepare(QStringLiteral("insert into %1 (name, value) values (?, ?)").arg(table));
            q.addBindValue(name);
            q.addBindValue(value);
            ok = ok && q.exec();
        }
        if (!ok)
            qCWarning(level_1) << "PARAM.db: row" << name << "of" << table << "not stored:" << q.lastError().text();
    }
    if (ok && db.commit())
        return 0;
    if (ok)
        qCWarning(level_1) << "PARAM.db: row" << name << "not committed:" << db.lastError().text();
    db.rollback();
    return -1;
}

bool WizardPara::SaveDatatoDB()
{
    QJsonObject all;
    GetParams(all);
    const QString text = QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented));
    if (!ensureTable() || Replace_KeyValue(QStringLiteral("sysparam"), QStringLiteral("paramsjson"), text) != 0) {
        qCWarning(level_1) << "process parameters could not be stored in PARAM.db";
        return false;
    }
    return true;
}

void WizardPara::keepBrokenText(const QString& text) const
{
    QSqlQuery q(openParamDb());
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS sysparam_broken (name TEXT NOT NULL, value TEXT, keptat TEXT)"))) {
        qCWarning(level_1) << "cannot create sysparam_broken:" << q.lastError().text();
        return;
    }
    q.prepare(QStringLiteral("select count(*) from sysparam_broken where name='paramsjson' and value=?"));
    q.addBindValue(text);
    if (q.exec() && q.next() && q.value(0).toInt() > 0)
        return;
    q.prepare(QStringLiteral("insert into sysparam_broken (name, value, keptat) values ('paramsjson', ?, ?)"));
    q.addBindValue(text);
    q.addBindValue(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (!q.exec())
        qCWarning(level_1) << "cannot keep the unreadable paramsjson row:" << q.lastError().text();
}

void WizardPara::applyRangeDefaults()
{
    WizardPara fresh(m_host, m_io);
    fresh.CheckParamRange();
    fresh.SetFuncParams();
    *this = fresh;
    gPicNumNG.store(h_ngres_count);
    gPicNumOK.store(h_okres_count);
}

void WizardPara::LoadDatafromDB()
{
    if (!ensureTable()) {
        applyRangeDefaults();
        return;
    }
    auto readRow = [](bool& present) {
        QSqlQuery q(openParamDb());
        q.prepare(QStringLiteral("select value from sysparam where name='paramsjson'"));
        present = q.exec() && q.next();
        return present ? q.value(0).toString() : QString();
    };
    bool present = false;
    QString text = readRow(present);
    if (!present) {
        QSqlQuery q(openParamDb());
        if (!q.exec(QStringLiteral("insert into sysparam (name, value) values ('paramsjson', '')")))
            qCWarning(level_1) << "cannot create the paramsjson row:" << q.lastError().text();
    }
    if (text.isEmpty()) {
        LoadDatafromFile();
        SaveDatatoDB();
        text = readRow(present);
        if (text.isEmpty()) {
            qInfo() << "paramsjson laod params fail";
            return;  // the imported set stays in force
        }
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        keepBrokenText(text);
        qCWarning(level_1).noquote() << QStringLiteral(
                                    "paramsjson in PARAM.db is not a JSON object (%1): kept in sysparam_broken, "
                                    "the default process parameters apply")
                                    .arg(error.error != QJsonParseError::NoError ? error.errorString()
                                                                                 : QStringLiteral("not an object"));
        applyRangeDefaults();
        return;
    }
    SetParamfromJson(doc.object());
}

// ---- project groups ----------------------------------------------------------------

QStringList WizardPara::GetProjectList() const
{
    QSqlDatabase db = paramDatabase();
    if (!db.isOpen()) {
        if (!db.isValid() || !QFile::exists(QStringLiteral("./PARAM.db")) || !db.open())
            return {};
    }
    const QString current = GetTableValue(QStringLiteral("sysparam"), QStringLiteral("project_name"));
    QStringList groups = QDir(QStringLiteral("./paraGroup")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(groups.begin(), groups.end(),
              [&](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    groups.removeOne(QStringLiteral("default"));
    groups.prepend(current);
    return groups;
}
