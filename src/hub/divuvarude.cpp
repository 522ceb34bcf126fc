#include "hub/divuvarude.h"

#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "hub/recordbook.h"
#include "hub/saveimage.h"
#include "inspection/alarmimagesink.h"
#include "inspection/camera.h"
#include "inspection/camerastoreservices.h"
#include "inspection/cammersingleton.h"
#include "io/frameio.h"
#include "platform/system/dataroot.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

WizardPara* gpWPara = nullptr;

namespace {

const char kParamFile[] = "PARAM.db";
const char kFactoryParamFile[] = "./paraGroup/default/PARAM.db";

QString alarmRoot()
{
    return platform::DataRoot::path(QStringLiteral("/userdata/alarmimage/"));
}

// Moves a file that is about to be replaced out of the way, so that nothing
// it holds is lost.
void moveAside(const QString& file, const QString& why)
{
    const QString aside =
        file + QStringLiteral(".broken-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmsszzz"));
    if (QFile::rename(file, aside))
        qCWarning(level_1).noquote() << QStringLiteral("%1 %2: moved aside as %3").arg(file, why, aside);
    else
        qCWarning(level_1).noquote() << QStringLiteral("%1 %2 and could not be moved aside").arg(file, why);
}

bool readable(QSqlDatabase& db)
{
    QSqlQuery probe(db);
    return probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
}

}  // namespace

DiVuVarude::DiVuVarude(QObject* parent) : QObject(parent)
{
    // 1-2. Published first: code called from here already finds the hub.
    gpWin = this;
    gShowW = 1920;
    gShowH = 1080;
    gImageW = 1920;
    gImageH = 1080;
    gImageLen = 1920 * 1080;
    gpWPara = nullptr;

    // 3. PARAM.db.
    openParamDatabase();

    // 4-5. RECORD.db; a record that cannot be opened does not stop the
    // construction (entries are then lost, with a log line each).
    m_record = std::make_unique<RecordBook>(QStringLiteral("RECORD.db"), QStringLiteral("RECORDNULL.db"),
                                            platform::DataRoot::path(QStringLiteral("/userdata/record_history/")));
    m_record->openAtStart();
    ZRC_WorkInformation_Manager::getInstance()->setRecordWriter(this);

    // 6. Record history.
    m_record->trimHistory();

    // 7. Parameters, then the engine may read them.
    m_params = new WizardPara(this, g_FrameIO.data());
    gpWPara = m_params;
    m_params->LoadDatafromDB();
    gPicNumNG.store(m_params->h_ngres_count);
    gPicNumOK.store(m_params->h_okres_count);
    HubServices::setInstance(this);

    // 8. Grey colour table for 8-bit template images.
    m_greyTable.reserve(256);
    for (int i = 0; i < 256; ++i)
        m_greyTable.append(qRgba(i, i, i, 255));

    // 9. Alarm and template directories.
    for (int k = 1; k <= 4; ++k) {
        for (int ok = 0; ok < 2; ++ok) {
            const QString path = QStringLiteral("%1detect%2/%3").arg(alarmRoot()).arg(k).arg(ok ? "OK" : "NG");
            m_alarmDirs[(k - 1) * 2 + ok] = QDir(path);
            if (!QDir().mkpath(path))
                qCWarning(level_1) << "alarm image folder" << path << "cannot be created";
        }
        const QString templates = QStringLiteral("./cammer1%1").arg(k);
        if (!QDir().mkpath(templates))
            qCWarning(level_1) << "template folder" << templates << "cannot be created";
    }

    // 10. Capture.
    startCapture();
    gDNum = 4;

    // 11. Camera.
    m_camera = new Camera;

    // 12. Alarm-image writer.
    m_writer = new SaveFailImageThread(alarmRoot());
    AlarmImageSink::setInstance(m_writer);
    m_writer->start(QThread::InheritPriority);

    // 13. Alarm counter: after the largest number already on disk.
    m_writer->setCounter(scanAlarmCounter() + 1);
}

DiVuVarude::~DiVuVarude()
{
    if (AlarmImageSink::instance() == m_writer)
        AlarmImageSink::setInstance(nullptr);
    delete m_writer;
    if (HubServices::instance() == this)
        HubServices::setInstance(nullptr);
    if (ZRC_WorkInformation_Manager::getInstance()->recordWriter() == this)
        ZRC_WorkInformation_Manager::getInstance()->setRecordWriter(nullptr);
    delete m_camera;
    gpWPara = nullptr;
    delete m_params;
    m_record.reset();
    {
        QSqlDatabase db = paramDatabase();
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kParamDbConnection));
    if (gpWin == this)
        gpWin = nullptr;
}

void DiVuVarude::openParamDatabase()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kParamDbConnection));
    db.setDatabaseName(QLatin1String(kParamFile));
    const bool present = QFile::exists(QLatin1String(kParamFile));
    if (present && db.open() && readable(db))
        return;
    db.close();
    if (present)
        moveAside(QLatin1String(kParamFile), QStringLiteral("cannot be opened"));
    const QString part = QLatin1String(kParamFile) + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::exists(QLatin1String(kFactoryParamFile))) {
        qCWarning(level_1) << "no" << kFactoryParamFile << ": starting with an empty PARAM.db";
    } else if (QFile::copy(QLatin1String(kFactoryParamFile), part)
               && QFile::setPermissions(part, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                  | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther)
               && QFile::rename(part, QLatin1String(kParamFile))) {
        qInfo() << "PARAM.db copied from" << kFactoryParamFile;
    } else {
        QFile::remove(part);
        qCWarning(level_1) << "could not copy" << kFactoryParamFile << ": starting with an empty PARAM.db";
    }
    if (!db.open())
        qCWarning(level_1) << "PARAM.db will not open:" << db.lastError().text();
}

int DiVuVarude::scanAlarmCounter() const
{
    int largest = 100;
    for (const QDir& dir : m_alarmDirs) {
        for (const QString& name : dir.entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                                 QDir::Name)) {
            bool number = false;
            const int value = name.section(QLatin1Char('_'), 0, 0).toInt(&number);
            if (number && value > largest)
                largest = value;
        }
    }
    return largest;
}

void DiVuVarude::FLushAll()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { FLushAll(); }, Qt::QueuedConnection);
        return;
    }
    closeDatabases();
}

void DiVuVarude::InsertRecord(const QString& text, const QString& type)
{
    // The user belongs to the calling thread (the request it serves): read it
    // here, before the entry travels to the hub's thread.
    const QString user = OperationRecord_Interface::actingUser();
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, text, type, user] { m_record->insert(text, type, user); },
                                  Qt::QueuedConnection);
        return;
    }
    m_record->insert(text, type, user);
}

void DiVuVarude::GetParams(QJsonObject& out) const
{
    if (m_params)
        m_params->GetParams(out);
}

void DiVuVarude::applyToCamera(const QJsonObject& params, bool copyRegions)
{
    if (!m_camera)
        return;
    m_camera->cameraSingleton()->setSystemParam(params);
    if (copyRegions) {
        m_camera->CopyPara();  // says which steps inspect nothing now
        if (!m_camera->cameraSingleton()->SaveDatatoDB())
            qCWarning(level_1) << "the copied regions could not be stored in PARAM.db";
    } else {
        // The switches may have enabled a step, or stopped its location region.
        m_camera->warnStepsWithoutInspection();
    }
}

void DiVuVarude::restartWork()
{
    startStop(0);
}

void DiVuVarude::closeDatabases()
{
    {
        QSqlDatabase db = paramDatabase();
        db.close();
    }
    m_record->close();
}

void DiVuVarude::reopenDatabases()
{
    QSqlDatabase db = paramDatabase();
    if (!db.isOpen() && !db.open())
        qCWarning(level_1) << "PARAM.db will not open again:" << db.lastError().text();
    // RECORD.db opens again with its next entry.
}

void DiVuVarude::setSafetyDoor(bool on)
{
    m_safetyDoor = on ? 1 : 0;
    if (m_writer)
        m_writer->setSafetyDoor(on);
}
