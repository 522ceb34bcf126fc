// Start-up of the camera program: everything in a fixed order on the main
// thread, then the Qt event loop.
#include "app/stopsignals.h"
#include "capture/aiqcontrol.h"
#include "commandline/programarguments.h"
#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/uitexttable.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "hub/divuvarude.h"
#include "inspection/hubservices.h"
#include "inspection/pluginsmanager.h"
#include "manager/programlivenessprobes.h"
#include "manager/smartmanager_deamon.h"
#include "manager/vistrel_manager.h"
#include "io/vcam_io.h"
#include "inspection/roiinterface.h"
#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"
#include "rtsp/rtsp_log.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMutex>
#include <QTemporaryFile>
#include <QTextCodec>
#include <QThread>

#include <cstdio>

namespace {

const char* kVersion = "V1.0.5.29";
constexpr qint64 kAddressWaitMs = 29999;

const char* const kUsage =
    "usage: Orvale [--help | --version]\n"
    "The camera program of the mould-guard camera: started without arguments, in its working directory\n"
    "(\"./workspace/\", \"./camcfg.json\", PARAM.db, RECORD.db, the template folders). Stop it with SIGTERM;\n"
    "SIGINT stops only the capture.\n"
    "\n"
    "Environment:\n"
    "  ORVALE_DATA_ROOT      folder that stands for the device's \"/\" (\"/userdata/...\", \"/root/...\");\n"
    "                        without it the program writes into /userdata\n"
    "  ORVALE_DEVICE=1       run the commands that change the machine (clock, reboot, kill); without it\n"
    "                        they are logged and recorded only\n"
    "  ORVALE_DEVICE_ID      the device id (several simulated cameras on one machine)\n"
    "  ORVALE_RTSP_PORT      port of the live stream, 1-65535 (default 554)\n"
    "  ORVALE_HTTP_PORT      port of the HTTP control API (default 10414; 0: any free port)\n"
    "  ORVALE_SENSOR_IMAGES  folder of pictures the simulated sensor shows in a loop\n"
    "  ORVALE_SENSOR_PART    file whose presence puts a part left in a cavity into the simulated scene\n"
    "  QT_QPA_PLATFORM       Qt platform (offscreen when no display is set)\n";

// A folder the program keeps its files in, and what it loses when that
// folder cannot be written.
struct KeptFolder {
    QString path;
    const char* lost;
};

// Says once, on the console and (after logging starts) in the log files
// when they can be written, which of the program's folders cannot be
// written: a read-only file system does not stop the camera, it only keeps
// nothing.
QStringList unwritableFolders()
{
    const KeptFolder folders[] = {
        {platform::DataRoot::path(QStringLiteral("/userdata/")), "no log files, alarm images or statistics are kept"},
        {QDir::currentPath(), "parameters, records, templates and settings are not stored"},
    };
    QStringList texts;
    for (const KeptFolder& folder : folders) {
        // A folder that cannot be made is probed in its nearest existing
        // parent, which tells why (a read-only file system).
        QString probed = QDir::cleanPath(folder.path);
        QDir().mkpath(probed);
        while (!QFileInfo(probed).isDir() && probed != QFileInfo(probed).absolutePath())
            probed = QFileInfo(probed).absolutePath();
        QTemporaryFile probe(QDir(probed).filePath(QStringLiteral(".write-probe-XXXXXX")));
        if (probe.open() && probed == QDir::cleanPath(folder.path))
            continue;
        const QString why = probe.isOpen() ? QStringLiteral("cannot be created") : probe.errorString();
        const QString text = QStringLiteral("[MAIN] %1 cannot be written (%2): %3; the camera runs on")
                                 .arg(folder.path, why, QLatin1String(folder.lost));
        consoleLine(text);
        texts << text;
    }
    return texts;
}

// Without a display the program runs on Qt's offscreen platform.
void chooseOffscreenWithoutDisplay()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void loadBaseFont()
{
    const QString fontFile = platform::DataRoot::path("/root/.fonts/WenQuanWeiMiHei-1.ttf");
    if (!QFile::exists(fontFile))
        return;
    const int id = QFontDatabase::addApplicationFont(fontFile);
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (!families.isEmpty())
        g_BaseFont = families.first();
}

// Waits until the device has an IPv4 address; false when none came in time.
bool waitForAddress()
{
    const qint64 start = gettimeofday_ms();
    for (;;) {
        if (gettimeofday_ms() - start > kAddressWaitMs)
            return false;
        if (FirstFoundBaseIP())
            return true;
        QThread::sleep(1);
        qInfo() << "no found ip from dhcp!";
    }
}

void logStartBanner()
{
    const platform::CommandResult pgrep = platform::CommandRunner::instance().run(
        QStringLiteral("pgrep"), {QStringLiteral("Orvale")}, platform::CommandRunner::Effect::Query, 1000);
    qInfo() << "**************** application start " << kVersion << pgrep.output << "****************";
}

// Sets the clock from the time of the last work event kept in the work stash,
// so a device without a battery-backed clock does not restart in the past.
// A record that is not positive or not later than the clock is ignored:
// applying it would only move the clock backwards.
void restoreClockFromRecord()
{
    const qint64 record = WorkStashManager::getInstance()->value("VCamera_Work/RecordTime", 0).toLongLong();
    if (record == 0)
        return;
    const qint64 nowSecs = gettimeofday_ms() / 1000;
    if (record < 0 || record <= nowSecs) {
        qInfo() << "[MAIN][system time] clock record" << record << "not later than the clock, kept the clock";
        return;
    }
    qInfo() << "[MAIN][system time] update system time by file record";
    const QString text = QDateTime::fromSecsSinceEpoch(record).toString("yyyy-MM-dd hh:mm:ss");
    auto& runner = platform::CommandRunner::instance();
    runner.run(QStringLiteral("date"), {QStringLiteral("-s"), text}, platform::CommandRunner::Effect::Change, 1000);
    runner.run(QStringLiteral("hwclock"), {QStringLiteral("--systohc")}, platform::CommandRunner::Effect::Change, 1000);
}

// The HTTP control API's port: 10414, or ORVALE_HTTP_PORT on this machine
// (0 asks for a free port) so that tests outside a private network never
// take the fixed one.
quint16 httpApiPort()
{
    const QByteArray text = qgetenv("ORVALE_HTTP_PORT");
    if (text.isEmpty())
        return 10414;
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (ok && port <= 65535)
        return static_cast<quint16>(port);
    qCWarning(level_1) << "[MAIN] ORVALE_HTTP_PORT" << text << "is not a port, using 10414";
    return 10414;
}

}  // namespace

int main(int argc, char** argv)
{
    const int answered = ProgramArguments::answer(argc, argv, "Orvale", kVersion, kUsage);
    if (answered >= 0)
        return answered;
    chooseOffscreenWithoutDisplay();
    auto* app = new QApplication(argc, argv);
    const QStringList unwritable = unwritableFolders();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    loadBaseFont();
    qRegisterMetaType<RoiInterface*>("RoiInterface*");

    if (!waitForAddress()) {
        std::fprintf(stderr, "Orvale: no IPv4 address after %lld ms, giving up\n",
                     static_cast<long long>(kAddressWaitMs + 1));
        delete app;
        return 2;
    }

    auto* logConfig = new LogManager_Config;
    logConfig->app_path = QCoreApplication::applicationFilePath().toLatin1();
    logConfig->glog_dir = QStringLiteral("/userdata/log/");
    logConfig->log_to_stderr = false;
    logConfig->glog_keep = 20;
    logConfig->stdlog_dir = QStringLiteral("/userdata/log_stdout/");
    logConfig->stdlog_keep = 20;
    LogManager::getInstance(*logConfig);
    new StopSignals(app);
    for (const QString& text : unwritable)
        qCWarning(level_1).noquote() << text;

    logStartBanner();

    auto* stashConfig = new WorkStashManager_Config;
    stashConfig->settings_file = QStringLiteral("Vistrel.ini");
    stashConfig->workspace_dir = QStringLiteral("./workspace/");
    stashConfig->temp_dir = QStringLiteral("/userdata/tmp/");
    WorkStashManager::getInstance(*stashConfig);
    WorkStashManager::getInstance()->slot_timer_updateLogRemainTime();

    ZRC_WorkInformation_Manager::getInstance()->init();

    restoreClockFromRecord();

    pMutex = new QMutex;
    InitData();

    g_FrameIO = new VCam_IO;

    // The application manager: publisher, HTTP control API, flow manager,
    // statistics and the camera group's work events. Never freed by the
    // program; stopped and freed below at a clean stop.
    Vistrel_ManagerOptions managerOptions;
    managerOptions.http.port = httpApiPort();
    Vistrel_Manager* manager = new Vistrel_Manager(managerOptions);  // the program's one (getInstance)

    if (PluginsManager::instance == nullptr)
        PluginsManager::instance = new PluginsManager;
    PluginsManager::instance->loadPlugins();

    // Step 10 of the hub creates the capture controller; the live-stream
    // server's warnings reach the log files too.
    DiVuVarude::setCaptureStarter([] {
        rtsp_set_log_handler(rtsp_log_to_stdout_and_qt);
        gAiqControl = new AiqControl(gImageW, gImageH);
    });
    new DiVuVarude;  // publishes itself in gpWin

    manager->startwork();

    // The liveness reporter, on a thread of its own: link watch, frame rate
    // and the record the monitor daemon reads.
    ProgramLivenessProbes probes(manager->livenessParts());
    auto* reporter = new SmartManager_Deamon(&probes);

    const int code = app->exec();
    // A clean stop: the reporter, then the HTTP server, the IO transport, the
    // publisher and the camera-pair link end their threads; the capture and
    // encoder threads end before the objects they write into go away with
    // the process.
    delete reporter;
    delete manager;
    delete gAiqControl;
    delete logConfig;
    delete stashConfig;
    delete app;
    return code;
}
