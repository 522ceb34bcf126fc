#include "daemon/business.h"

#include "httpserver/httpserver.h"
#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtDebug>

namespace {

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

class DaemonHandler : public httpserver::RequestHandler {
public:
    explicit DaemonHandler(business* owner) : m_owner(owner) {}
    std::optional<httpserver::Reply> onHead(httpserver::Exchange&) override { return std::nullopt; }
    void onBody(httpserver::Exchange&, const char*, size_t) override {}
    std::optional<httpserver::Reply> onComplete(httpserver::Exchange& ex) override
    {
        const QByteArray path = ex.path();
        qDebug().noquote() << "[MG_RECV]:" << "*********************************" << QString::fromLatin1(path)
                           << "body length:" << ex.bodyBytes;
        int status = 200;
        const QByteArray body = m_owner->answer(path, &status);
        return httpserver::plainReply(status, QByteArray(), body);
    }

private:
    business* m_owner;
};

// Removes one entry; a link or file is unlinked, a folder emptied first
// without following any link inside it.
bool removeEntry(const QString& path, QStringList* failed)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir()) {
        if (!QFile::remove(path) && QFileInfo(path).exists()) {
            failed->append(path);
            return false;
        }
        return true;
    }
    QDir dir(path);
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    bool ok = true;
    for (const QString& n : names)
        ok = removeEntry(dir.filePath(n), failed) && ok;
    if (!QDir().rmdir(path)) {
        failed->append(path);
        return false;
    }
    return ok;
}

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

}  // namespace

business::business(Options options, QObject* parent)
    : QThread(parent), m_options(std::move(options)), m_tracker(m_options.liveness)
{
    qDebug() << "business start.";
    if (m_options.workDir.isEmpty())
        m_options.workDir = QDir::currentPath();
    qDebug() << "business start finish.";
    connect(this, &business::sig_reboot, this, [this] { schedule(false); });
    connect(this, &business::sig_reset, this, [this] { schedule(true); });
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, [this] { m_tracker.tick(); });
    m_tick.start();
}

business::~business()
{
    {
        QMutexLocker lock(&m_serverLock);
        m_running = false;
        if (m_server)
            m_server->requestStop();
    }
    quit();
    wait();
}

void business::run()
{
    DaemonHandler handler(this);
    httpserver::HttpServer server(&handler);
    if (!server.listen(m_options.host, m_options.port)) {
        qWarning().noquote() << "[DAEMON] HTTP cannot listen on port" << m_options.port << ":" << server.error()
                             << "- liveness, reboot and reset are not served";
        m_listenFailed = true;
        return;
    }
    m_port = server.boundPort();
    bool serve = false;
    {
        // With the stop under the same lock: either the stop sees the
        // server, or this sees the stop.
        QMutexLocker lock(&m_serverLock);
        m_server = &server;
        serve = m_running;
    }
    if (serve)
        server.serve();
    QMutexLocker lock(&m_serverLock);
    m_server = nullptr;
}

QByteArray business::answer(const QByteArray& path, int* status)
{
    *status = 200;
    QJsonObject o{{"code", 0}, {"msg", "OK"}};
    if (path == "/dide/daemon/main_runstate") {
        const LivenessTracker::State s = m_tracker.state();
        o.insert(QStringLiteral("code"), s.code);
        o.insert(QStringLiteral("msg"), s.msg);
        if (s.code == 0)
            o.insert(QStringLiteral("result"), s.result);
    } else if (path == "/dide/daemon/reboot") {
        emit sig_reboot();
    } else if (path == "/dide/daemon/reset") {
        emit sig_reset();
    } else {
        *status = 404;
        o = QJsonObject{{"code", 404}, {"msg", "Not Found"}};
    }
    return compact(o);
}

void business::schedule(bool reset)
{
    if (m_actionPending) {
        qWarning().noquote() << "[DAEMON]" << (reset ? "reset" : "reboot") << "requested while one is pending: ignored";
        return;
    }
    m_actionPending = true;
    QTimer::singleShot(m_options.actionDelayMs, this, [this, reset] { act(reset); });
}

void business::act(bool reset)
{
    auto& runner = platform::CommandRunner::instance();
    const auto change = platform::CommandRunner::Effect::Change;
    qWarning().noquote() << "[DAEMON]" << (reset ? "factory reset" : "reboot") << "now";
    runner.run(QStringLiteral("killall"), {QStringLiteral("-9"), QStringLiteral("Orvale"), QStringLiteral("Brevik")},
               change, 5000);
    if (reset) {
        const QStringList failed =
            removeCameraData(m_options.workDir, platform::DataRoot::path(QStringLiteral("/userdata/alarmimage/")));
        if (!failed.isEmpty())
            qWarning().noquote() << "[DAEMON] reset left" << failed.size() << "entries behind";
    }
    runner.run(QStringLiteral("sync"), {}, change, 30000);
    runner.run(QStringLiteral("reboot"), {}, change, 5000);
    m_actionPending = false;
}

QStringList business::removeCameraData(const QString& workDir, const QString& alarmImages)
{
    QStringList failed;
    QDir work(workDir);
    QStringList names = {QStringLiteral("RECORDNULL.db"), QStringLiteral("RECORD.db"),
                         QStringLiteral("ResStatistics.db"), QStringLiteral("PARAM.db"),
                         QStringLiteral("alarmimage"), QStringLiteral("originalimage")};
    names += work.entryList({QStringLiteral("cammer*")},
                            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString& n : names) {
        const QString path = work.filePath(n);
        if (exists(path))
            removeEntry(path, &failed);
    }
    QDir alarms(alarmImages);
    if (QFileInfo(alarmImages).isDir() && !QFileInfo(alarmImages).isSymLink()) {
        for (const QString& n : alarms.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            removeEntry(alarms.filePath(n), &failed);
    }
    for (const QString& f : failed)
        qWarning().noquote() << "[DAEMON] reset could not remove" << f;
    return failed;
}
