#include "net/udp_push2app_simple.h"

#include "foundation/publictools.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "net/netlog.h"
#include "platform/system/commandrunner.h"
#include "platform/system/monotonicclock.h"

#include <QDate>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QStringList>

#include <atomic>

using platform::MonotonicClock;

namespace {

QMutex g_probeLock;
Udp_Push2APP_Simple::WorkingUnitProbe g_probe;

constexpr qint64 kClockRetryMs = 60000;
constexpr qint64 kLatestAppTime = 4102444800;  // 2100-01-01 00:00:00 UTC
std::atomic<qint64> g_lastClockAttempt{-1};    // monotonic ms, -1 none yet
NetLogLimiter g_clockLimiter(10000);

int workingUnit(bool* known)
{
    QMutexLocker lock(&g_probeLock);
    *known = bool(g_probe);
    return g_probe ? g_probe() : -1;
}

}  // namespace

Udp_Push2APP_Simple::Udp_Push2APP_Simple(QObject* parent) : QUdpSocket(parent)
{
    connect(this, &QUdpSocket::readyRead, this, &Udp_Push2APP_Simple::onReadyRead);
}

void Udp_Push2APP_Simple::setWorkingUnitProbe(WorkingUnitProbe probe)
{
    QMutexLocker lock(&g_probeLock);
    g_probe = std::move(probe);
}

qint64 Udp_Push2APP_Simple::earliestAppTime()
{
    // __DATE__ is "Mmm dd yyyy" with a blank-padded day.
    const QString text = QString::fromLatin1(__DATE__).simplified();
    const QDate d = QLocale::c().toDate(text, QStringLiteral("MMM d yyyy"));
    return d.isValid() ? QDateTime(d, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() : 0;
}

QByteArray Udp_Push2APP_Simple::heartbeatDatagram(const QByteArray& body)
{
    const QString head = QStringLiteral("POST /dide/initiative/runstate HTTP/1.1\r\n"
                                        "User-Agent: vc_heartbeat#%1\r\n"
                                        "Content-Type: application/json\r\n"
                                        "Content-Length: %2\r\n"
                                        "Device-ID: %3\r\n"
                                        "\r\n")
                             .arg(gettimeofday2str("yyyyMMdd_hhmmss_zzz"))
                             .arg(body.size())
                             .arg(ZRC_WorkInformation_Manager::getInstance()->get_deviceid());
    return head.toUtf8() + body;
}

qint64 Udp_Push2APP_Simple::sendData(const QByteArray& body, QString address, quint16 port)
{
    {
        QMutexLocker lock(&time_lock);
        sent_times.insert(address, double(MonotonicClock::nowMs()));
    }
    if (body.isEmpty())
        return 0;
    return writeDatagram(heartbeatDatagram(body), QHostAddress(address), port);
}

void Udp_Push2APP_Simple::onReadyRead()
{
    while (hasPendingDatagrams()) {
        const QNetworkDatagram d = receiveDatagram();
        onDataReceived(d.data(), d.senderAddress(), quint16(d.senderPort()));
    }
}

void Udp_Push2APP_Simple::onDataReceived(const QByteArray& data, const QHostAddress& sender, quint16)
{
    const int zero = data.indexOf('\0');
    const QString text = QString::fromUtf8(zero < 0 ? data : data.left(zero));
    const QStringList pieces = text.split(QStringLiteral("\r\n\r\n"), Qt::SkipEmptyParts);
    const QByteArray body = pieces.size() > 1 ? pieces.last().toUtf8() : QByteArray();
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError)
        return;
    const QString address = sender.toString().remove(QStringLiteral("::ffff:"));
    const QJsonValue result = doc.object().value(QStringLiteral("result"));
    if (!result.isObject())
        return;
    takeAnswer(result.toObject(), address);
    QMutexLocker lock(&time_lock);
    reply_times.insert(address, double(MonotonicClock::nowMs()));
}

void Udp_Push2APP_Simple::takeAnswer(const QJsonObject& r, const QString& address)
{
    const bool doTaken = r.value(QStringLiteral("dotaken")).toBool();
    const QString version = r.value(QStringLiteral("app_version")).toString();
    const std::string key = address.toStdString();
    const qint64 wall = gettimeofday_ms();
    const qint64 mono = MonotonicClock::nowMs();
    bool clockSynced = false;
    // One atomic change: a stale copy written back would lose what another
    // writer (the device-list route) registered meanwhile.
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([&](ZRC_WorkInfos& w) {
        if (w.taken_app_ip.empty() && doTaken)
            w.taken_app_ip = key;
        AppRegiestInfo& app = w.registered_apps[key];
        app.time_ms = wall;
        app.mono_ms = mono;
        app.version = version;
        clockSynced = w.clock_synced;
    });
    if (!clockSynced)
        applyClockRule(r.value(QStringLiteral("app_time")));
}

void Udp_Push2APP_Simple::applyClockRule(const QJsonValue& appTime)
{
    bool known = false;
    if (workingUnit(&known) != -1 || !known)
        return;
    const qint64 last = g_lastClockAttempt.load();
    if (last >= 0 && MonotonicClock::nowMs() - last < kClockRetryMs)
        return;
    const double t = appTime.isDouble() ? appTime.toDouble() : -1.0;
    const qint64 secs = qint64(t);
    if (!appTime.isDouble() || secs < earliestAppTime() || secs >= kLatestAppTime) {
        if (g_clockLimiter.allow()) {
            qCWarning(level_1).noquote() << "[MAIN][system time] app_time missing or out of range, clock left alone:"
                                         << QJsonDocument(QJsonObject{{"app_time", appTime}}).toJson(
                                                QJsonDocument::Compact);
        }
        return;
    }
    // Logged only when the clock is really set: an answer without a usable
    // time comes ten times a second and has its own limited warning.
    qCInfo(level_1).noquote() << "[MAIN][system time] update system time by '/dide/initiative/runstate response'";
    g_lastClockAttempt = MonotonicClock::nowMs();
    const QString when = QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    auto& runner = platform::CommandRunner::instance();
    auto succeeded = [](const platform::CommandResult& r) {
        // In simulation a recorded (not run) command counts as done.
        return (r.simulated && !r.started) || (r.finished && r.exitCode == 0);
    };
    const platform::CommandResult date =
        runner.run(QStringLiteral("date"), {QStringLiteral("-s"), when}, platform::CommandRunner::Effect::Change, 1000);
    if (!succeeded(date)) {
        qCWarning(level_1).noquote() << "[MAIN][system time] \"date -s" << when << "\" failed, exit code"
                                     << date.exitCode << "- tried again in a minute at the earliest";
        return;
    }
    const platform::CommandResult hw = runner.run(QStringLiteral("hwclock"), {QStringLiteral("--systohc")},
                                                  platform::CommandRunner::Effect::Change, 1000);
    if (!succeeded(hw))
        qCWarning(level_1).noquote() << "[MAIN][system time] hwclock --systohc failed, exit code" << hw.exitCode;
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([](ZRC_WorkInfos& w) { w.clock_synced = true; });
    WorkStashManager::getInstance()->setValue(QStringLiteral("VCamera_Work/RecordTime"), gettimeofday_ms() / 1000);
}

namespace {

int stateOf(double sent, const double* reply, bool registered)
{
    if (!registered || !reply)
        return 0;
    return sent - *reply > 2000.0 ? -1 : 1;
}

}  // namespace

bool Udp_Push2APP_Simple::linkState(const QString& address, bool registered, int* state) const
{
    QMutexLocker lock(&time_lock);
    const auto sent = sent_times.constFind(address);
    if (sent == sent_times.cend())
        return false;
    const auto reply = reply_times.constFind(address);
    *state = stateOf(*sent, reply == reply_times.cend() ? nullptr : &*reply, registered);
    return true;
}

QMap<QString, int> Udp_Push2APP_Simple::getIsCnted() const
{
    QMap<QString, double> sent;
    QMap<QString, double> replies;
    {
        QMutexLocker lock(&time_lock);
        sent = sent_times;
        replies = reply_times;
    }
    return linkStates(sent, replies);
}

QMap<QString, int> Udp_Push2APP_Simple::linkStates(const QMap<QString, double>& sent,
                                                   const QMap<QString, double>& replies)
{
    const ZRC_WorkInfos w = ZRC_WorkInformation_Manager::getInstance()->get_working_info();
    QMap<QString, int> states;
    for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
        const bool registered = w.registered_apps.find(it.key().toStdString()) != w.registered_apps.end();
        const auto reply = replies.constFind(it.key());
        states.insert(it.key(), stateOf(it.value(), reply == replies.cend() ? nullptr : &*reply, registered));
    }
    return states;
}
