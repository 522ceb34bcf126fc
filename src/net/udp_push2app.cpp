#include "net/udp_push2app.h"

#include "foundation/logmanager.h"
#include "foundation/qstring_tl.h"
#include "foundation/zrc_workinformation_manager.h"
#include "net/udp_push2app_simple.h"
#include "platform/system/monotonicclock.h"

#include <QDebug>
#include <QHostAddress>
#include <QJsonObject>
#include <QMutexLocker>

using platform::MonotonicClock;

namespace {

// The language sink and the last language seen by the answers (any answer
// thread; the sink is called under the lock, so it is never called after
// it was replaced).
QMutex g_languageLock;
Udp_Push2APP::LanguageSink g_languageSink;
QString g_languageSeen;

// The taken application's language: g_Language, and the sink when it changed.
void takeLanguage(const QString& language)
{
    if (language.isEmpty())
        return;
    g_Language = language;
    QMutexLocker lock(&g_languageLock);
    if (language == g_languageSeen)
        return;
    g_languageSeen = language;
    if (g_languageSink)
        g_languageSink(language);
}

}  // namespace

void Udp_Push2APP::setLanguageSink(LanguageSink sink)
{
    QMutexLocker lock(&g_languageLock);
    g_languageSink = std::move(sink);
    g_languageSeen.clear();
}

Udp_Push2APP::Udp_Push2APP(int lifetime_s) : CLSC::UdpReactor(nullptr), life_timer(this)
{
    life_timer.setSingleShot(true);
    connect(&life_timer, &QTimer::timeout, this, &QObject::deleteLater);
    if (lifetime_s != -1)
        life_timer.start(lifetime_s * 1000);
    connect(this, &CLSC::UdpReactor::sigRequest, this, &Udp_Push2APP::slot_udp_recv_req, Qt::DirectConnection);
    connect(this, &CLSC::UdpReactor::sigResponse, this, &Udp_Push2APP::slot_udp_recv_rsp, Qt::DirectConnection);
}

Udp_Push2APP::~Udp_Push2APP()
{
    // The answer slots run on the task: end it while this object is whole.
    deinitialize();
}

bool Udp_Push2APP::sendMsg(const QByteArray& body, QString host, int port, bool reconnect)
{
    {
        QMutexLocker lock(&time_lock);
        sent_times.insert(host, double(MonotonicClock::nowMs()));
    }
    if (body.isEmpty())
        return false;
    return CLSC::UdpReactor::sendMsg(Udp_Push2APP_Simple::heartbeatDatagram(body), host, port, reconnect);
}

void Udp_Push2APP::slot_udp_recv_req(const CTask_FormData&) {}

void Udp_Push2APP::slot_udp_recv_rsp(const CTask_FormData& form)
{
    const QJsonValue result = form.json.value(QStringLiteral("result"));
    if (!result.isObject())
        return;
    const QJsonObject r = result.toObject();
    const QString sender = form.peer_address;
    const QString subip = r.value(QStringLiteral("subip")).toString();
    if (!subip.isEmpty() && !QHostAddress(subip).isNull() && QHostAddress(subip).protocol() == QAbstractSocket::IPv4Protocol)
        qInfo().noquote() << "subip is different _Duplex_Address" << subip << sender;

    // The taken application may release the camera and names its language;
    // what any application may do (take a free camera, register, the clock)
    // follows in the shared rules.
    const bool doTaken = r.value(QStringLiteral("dotaken")).toBool();
    const std::string key = sender.toStdString();
    bool fromTaken = false;
    if (!key.empty()) {
        ZRC_WorkInformation_Manager::getInstance()->update_working_info([&](ZRC_WorkInfos& w) {
            if (w.taken_app_ip != key)
                return;
            fromTaken = true;
            if (!doTaken)
                w.taken_app_ip.clear();
        });
    }
    if (fromTaken) {
        if (!doTaken)
            qCInfo(level_1).noquote() << "[POST_2_APP] application" << sender
                                      << "released the camera: no detail pushes until one takes it";
        takeLanguage(r.value(QStringLiteral("language")).toString());
    }
    Udp_Push2APP_Simple::takeAnswer(r, sender);
    QMutexLocker lock(&time_lock);
    reply_times.insert(sender, double(MonotonicClock::nowMs()));
}

QMap<QString, int> Udp_Push2APP::getIsCnted() const
{
    QMap<QString, double> sent;
    QMap<QString, double> replies;
    {
        QMutexLocker lock(&time_lock);
        sent = sent_times;
        replies = reply_times;
    }
    return Udp_Push2APP_Simple::linkStates(sent, replies);
}
