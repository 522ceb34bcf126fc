#pragma once
// A camera group of real programs on the private test LAN: a main camera
// and its sub cameras, each a host of its own (10.77.0.1 the main, .2, .3
// the subs) with its own data root, working directory, camcfg.json naming
// the whole group, device id, sensor pictures, and its monitor daemon. The
// IO module simulator answers on the test thread's end of the LAN
// (10.77.0.254), where the test also runs its clients (curl).
//
// Each camera runs as on the device: Tessid under "unshare --ipc" in the
// camera's working directory, with a temp folder of the camera's own, and
// Orvale joining the daemon's IPC namespace ("nsenter --ipc -t <Tessid>"),
// so each pair shares its liveness segment and no other. Every process is
// started from its host's thread, so it runs in that host's network
// namespace, and stopped by its PID.
//
// Needs ORVALE_BIN, TESSID_BIN and ORVALE_FACTORY_SQL_DIR from the build,
// and root (network namespaces); ok() tells.
#include "support/clientrun.h"
#include "support/devicefixture.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/testlan/privatelan.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvalegroup {

using clientrun::runClient;
using clientrun::spinUntil;

// A JSON answer of an HTTP GET, empty when there was none.
inline QJsonObject getJson(const QString& url)
{
    const auto out = runClient("curl", {"-s", "-m", "5", url}, 15000);
    return out ? QJsonDocument::fromJson(*out).object() : QJsonObject();
}

struct Camera {
    QString id;
    LanHost* host = nullptr;
    QString root;  // the data root; root/app is the working directory
    QProcess* tessid = nullptr;  // live on the host's thread
    QProcess* orvale = nullptr;

    QString address() const { return host->address(); }
    QString appDir() const { return root + "/app"; }
    QString record() const { return appDir() + "/RECORD.db"; }

    // What the program's INFO logs ("LOG_*.log") hold so far.
    QByteArray logText() const
    {
        QByteArray all;
        const QDir dir(root + "/userdata/log");
        for (const QString& f : dir.entryList({"LOG_*.log"}, QDir::Files)) {
            QFile file(dir.filePath(f));
            if (file.open(QIODevice::ReadOnly))
                all += file.readAll();
        }
        return all;
    }
    // How many records of RECORD.db hold `text`.
    int recorded(const QString& text) const
    {
        if (!QFile::exists(record()))
            return 0;
        const QString out = testsupport::sqlite3(
            record(), QStringLiteral("select count(*) from RECORD where remarks like '%%1%';").arg(text));
        bool number = false;
        const int n = out.toInt(&number);
        if (!number)
            qWarning().noquote() << "RECORD.db of" << id << "not read:" << out;
        return number ? n : -1;
    }
    // The pictures filed under the data root's alarm-image folder.
    QStringList alarmImages() const
    {
        QStringList files;
        QDirIterator it(root + "/userdata/alarmimage", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    }
    // The camera program's run-state report (HTTP API) and its daemon's
    // liveness answer (10418).
    QJsonObject runState() const
    {
        return getJson("http://" + address() + ":10414/dide/system/get_runstate").value("result").toObject();
    }
    QJsonObject daemonState() const { return getJson("http://" + address() + ":10418/dide/daemon/main_runstate"); }
    qint64 orvalePid() const { return orvale ? orvale->processId() : 0; }
};

class OrvaleGroup {
public:
    // A main camera "GMAIN01" and `subs` sub cameras "GSUB01"...; `defects`
    // lists the cameras (0 the main, 1.. the subs) whose sensor shows the
    // defect. Nothing runs until start().
    OrvaleGroup(int subs, const QList<int>& defects = {})
    {
        if (!m_lan.ok()) {
            m_error = m_lan.error();
            return;
        }
        if (qEnvironmentVariableIsSet("ORVALE_GROUP_KEEP")) {
            // For reading the cameras' logs after a run.
            m_dir.setAutoRemove(false);
            std::fprintf(stderr, "camera group files kept in %s\n", qPrintable(m_dir.path()));
        }
        for (int i = 0; i <= subs; ++i) {
            Camera c;
            c.id = i == 0 ? QStringLiteral("GMAIN01") : QStringLiteral("GSUB%1").arg(i, 2, 10, QLatin1Char('0'));
            c.host = m_lan.addHost();
            if (!c.host) {
                m_error = m_lan.error();
                return;
            }
            c.root = m_dir.path() + "/" + c.id;
            m_cameras.push_back(c);
        }
        QList<QPair<QString, QString>> subList;
        for (int i = 1; i <= subs; ++i)
            subList << qMakePair(m_cameras[size_t(i)].id, m_cameras[size_t(i)].address());
        for (int i = 0; i <= subs; ++i) {
            Camera& c = m_cameras[size_t(i)];
            const devicefixture::Device device{c.id, c.address(), PrivateLan::bridgeAddress()};
            devicefixture::Group group;
            group.subs = subList;
            if (i > 0) {
                group.mainId = m_cameras[0].id;
                group.mainAddress = m_cameras[0].address();
            }
            if (!devicefixture::writeWorkingDir(c.appDir(), device, ORVALE_FACTORY_SQL_DIR, group) ||
                !devicefixture::writeScene(c.root + "/scene", defects.contains(i)) ||
                !QDir().mkpath(c.root + "/tmp")) {
                m_error = "the files of " + c.id + " could not be written";
                return;
            }
        }
        IoModuleSimulator::Config config;
        config.address = QHostAddress(PrivateLan::bridgeAddress());
        config.camera = QHostAddress(m_cameras[0].address());
        config.moduleId = devicefixture::kIoModuleId;
        io = std::make_unique<IoModuleSimulator>(config);
        if (!io->start()) {
            m_error = "IO module: " + io->errorString();
            return;
        }
        m_ok = true;
    }

    ~OrvaleGroup()
    {
        io.reset();
        for (size_t i = 0; i < m_cameras.size(); ++i)
            stopCamera(int(i));
    }

    bool ok() const { return m_ok; }
    QString why() const { return m_error; }
    int size() const { return int(m_cameras.size()); }
    Camera& camera(int i) { return m_cameras[size_t(i)]; }
    Camera& main() { return m_cameras[0]; }

    // Starts every camera's daemon and program; empty on success, else why not.
    QString start()
    {
        for (int i = 0; i < size(); ++i) {
            QString why = startDaemon(i);
            if (why.isEmpty())
                why = startProgram(i);
            if (!why.isEmpty())
                return why;
        }
        return QString();
    }

    // The camera's daemon, in a private IPC namespace of its own.
    QString startDaemon(int i)
    {
        Camera& c = camera(i);
        c.tessid = startOn(c, "unshare", {"--ipc", TESSID_BIN}, "tessid");
        if (!c.tessid)
            return c.id + ": Tessid did not start";
        // Its namespace is in place once unshare has executed the daemon.
        const QString exe = QStringLiteral("/proc/%1/exe").arg(c.tessid->processId());
        if (!spinUntil([&] { return QFileInfo(exe).canonicalFilePath() == QFileInfo(TESSID_BIN).canonicalFilePath(); },
                       10000))
            return c.id + ": Tessid did not come up";
        return QString();
    }

    // The camera program, in its daemon's IPC namespace.
    QString startProgram(int i)
    {
        Camera& c = camera(i);
        if (c.orvale) {
            c.host->stopProgram(c.orvale);
            c.orvale = nullptr;
        }
        c.orvale = startOn(c, "nsenter", {"--ipc", "-t", QString::number(c.tessid->processId()), ORVALE_BIN},
                           "orvale");
        return c.orvale ? QString() : c.id + ": Orvale did not start";
    }

    // Kills a camera program at once by its PID (the daemon stays).
    void killProgram(int i)
    {
        Camera& c = camera(i);
        if (c.orvale && c.orvale->processId() > 0)
            ::kill(pid_t(c.orvale->processId()), SIGKILL);
    }

    // Stops a camera's program (SIGTERM, its PID) and its daemon.
    void stopCamera(int i)
    {
        Camera& c = camera(i);
        for (QProcess** p : {&c.orvale, &c.tessid}) {
            if (!*p)
                continue;
            QProcess* process = *p;
            c.host->call([process] {
                if (process->state() != QProcess::NotRunning) {
                    process->terminate();
                    if (!process->waitForFinished(30000)) {
                        process->kill();
                        process->waitForFinished(5000);
                    }
                }
                delete process;
            });
            *p = nullptr;
        }
    }

    // Every camera is up: the main camera has recorded that its links are
    // up, and each camera measures a frame rate (until then every detection
    // is NG for want of a fresh frame). Then the safety door is closed
    // (input 1) and what the module was sent is forgotten. Empty on
    // success, else what did not happen.
    QString bringUp()
    {
        if (!spinUntil([&] { return main().recorded(QStringLiteral("初始化成功!")) > 0; }, 120000))
            return "no \"初始化成功!\" in the main camera's RECORD.db";
        for (const Camera& c : m_cameras) {
            if (!spinUntil([&] { return c.runState().value("fps").toInt() >= 1; }, 90000))
                return c.id + ": no frame rate in its run state: " +
                       QString::fromUtf8(QJsonDocument(c.runState()).toJson(QJsonDocument::Compact));
        }
        io->setInputs(0b10);
        spinUntil([] { return false; }, 1500);
        io->clearReceived();
        return QString();
    }

    // The output words the module has been sent since it last forgot, and
    // the addresses they came from.
    QStringList outputWords(QSet<QString>* senders = nullptr) const
    {
        QStringList words;
        for (const IoModuleSimulator::Datagram& d : io->receivedStartingWith("<C;6;")) {
            words << QString::fromLatin1(d.data.mid(d.data.lastIndexOf(';') + 1, 8));
            if (senders)
                senders->insert(QHostAddress(d.from.toIPv4Address()).toString());
        }
        return words;
    }

    // Waits until the module's last output word is `word`.
    bool waitForLastWord(const QString& word, int ms = 30000) const
    {
        return spinUntil(
            [&] {
                const QStringList w = outputWords();
                return !w.isEmpty() && w.last() == word;
            },
            ms);
    }

    std::unique_ptr<IoModuleSimulator> io;

private:
    // Starts a program on the camera's host, in its working directory,
    // with its environment; output to <root>/<name>.out.
    QProcess* startOn(const Camera& c, const QString& program, const QStringList& args, const QString& name)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"ORVALE_DEVICE", "ORVALE_HTTP_PORT", "ORVALE_RTSP_PORT", "TESSID_LIVENESS_KEY",
                              "TESSID_STALE_MS"})
            env.remove(v);
        env.insert("ORVALE_DATA_ROOT", c.root);
        env.insert("ORVALE_DEVICE_ID", c.id);
        env.insert("ORVALE_SENSOR_IMAGES", c.root + "/scene");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TMPDIR", c.root + "/tmp");
        QProcess* started = nullptr;
        c.host->call([&] {
            auto* p = new QProcess;
            p->setProcessEnvironment(env);
            p->setWorkingDirectory(c.appDir());
            // Files, not pipes: a full pipe would stall the program.
            p->setStandardOutputFile(c.root + "/" + name + ".out", QIODevice::Append);
            p->setStandardErrorFile(c.root + "/" + name + ".out", QIODevice::Append);
            p->start(program, args);
            if (p->waitForStarted(10000)) {
                started = p;
            } else {
                qWarning().noquote() << name << "did not start:" << p->errorString();
                delete p;
            }
        });
        return started;
    }

    PrivateLan m_lan;  // first: the test thread moves onto the LAN's bridge
    QTemporaryDir m_dir;
    std::vector<Camera> m_cameras;
    bool m_ok = false;
    QString m_error;
};

}  // namespace orvalegroup
