#pragma once
// Cameras of a group on the private test LAN: each endpoint (a link, or a
// simulated sub camera) is made on its own LAN host, so each listens on the
// real 8765. Construct first in a test; when ok() is false (no right to make
// network namespaces), skip.
#include "group/tm_zrt_campairs.h"
#include "support/cameragroup.h"
#include "tools/subcamsim/subcamerasimulator.h"
#include "tools/testlan/privatelan.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <functional>
#include <memory>
#include <vector>

namespace grouptest {

// Polls pred() from the calling thread until it holds or timeoutMs pass.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

// Runs f on the link thread and waits for it.
template <class F>
void onLink(TM_ZRT_CamPairs* link, F f)
{
    QMetaObject::invokeMethod(link, std::move(f), Qt::BlockingQueuedConnection);
}

inline void tick(TM_ZRT_CamPairs* link)
{
    onLink(link, [link] { link->heartbeatTick(); });
}

// Ticks until every sub is connected (a check may miss its 100 ms on a
// loaded machine; the next tick retries, as on the camera).
inline bool pairEventually(TM_ZRT_CamPairs* link)
{
    return waitUntil([&] {
        const int before = link->checksDone();
        tick(link);
        waitUntil([&] { return link->checksDone() > before; }, 2000);
        tick(link);
        return link->getIsCnetd();
    });
}

inline DeviceNetInfo member(const QString& id, const QString& address, int role)
{
    return DeviceNetInfo(id, address, role);
}

inline SRPC_WS_Interface mainView(const QString& own, const QList<DeviceNetInfo>& subs)
{
    SRPC_WS_Interface v;
    v.own_id = own;
    v.main_id = own;
    v.main_address = QStringLiteral("10.77.0.1");
    v.subs = subs;
    v.is_main = true;
    return v;
}

inline SRPC_WS_Interface subView(const QString& own, const QString& mainId)
{
    SRPC_WS_Interface v;
    v.own_id = own;
    v.main_id = mainId;
    v.main_address = QStringLiteral("10.77.0.1");
    v.is_main = false;
    return v;
}

// `count` junk text frames (seeded): random text, truncated and deeply
// nested JSON, wrong types, other ids and topics. `refusedId` is the id a
// receiver accepts requests or replies from: no frame here is a well-formed
// one of that id with a request topic ("…(rpc)" or the pairing check) or a
// reply topic, so a receiver must refuse every one.
inline QStringList junkFrames(int count, quint32 seed, const QString& refusedId)
{
    QRandomGenerator rng(seed);
    const QString rpc = QStringLiteral("/dide/action/manual_catch(rpc)");
    const QStringList otherIds{QStringLiteral("STRANGER"), refusedId.toLower(), refusedId + QStringLiteral(" "),
                               QString(), QStringLiteral("0")};
    const QStringList wrongTopics{QStringLiteral("/dide/action/manual_catch"),
                                  QStringLiteral("/dide/action/manual_catch(rpc)x"), QStringLiteral("(RPC)"),
                                  QStringLiteral("/dide/subcamera/checkid_back"), QString()};
    auto text = [](const QString& topic, const QJsonValue& uuid, const QJsonValue& id, const QJsonValue& datas) {
        QJsonObject o;
        o.insert(QStringLiteral("topic"), topic);
        o.insert(QStringLiteral("uuid"), uuid);
        o.insert(QStringLiteral("device_id"), id);
        o.insert(QStringLiteral("datas"), datas);
        return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    };
    QStringList out;
    for (int i = 0; i < count; ++i) {
        const QString uuid = QStringLiteral("j-%1").arg(i);
        switch (i % 8) {
        case 0: {  // random characters
            QString t(int(rng.bounded(1, 300)), QChar());
            for (QChar& c : t)
                c = QChar(ushort(rng.bounded(1, 0xD7FF)));
            out << t;
            break;
        }
        case 1: {  // a request of the accepted id, cut short
            const QString whole = text(rpc, uuid, refusedId, QJsonObject{{QStringLiteral("passport"), uuid}});
            out << whole.left(int(rng.bounded(0, whole.size() - 1)));
            break;
        }
        case 2: {  // nested deeper than any reader goes
            const int depth = int(rng.bounded(100, 5000));
            out << (i % 16 == 2 ? QString(depth, QLatin1Char('['))
                                : QStringLiteral("{\"a\":").repeated(depth) + QStringLiteral("1")
                                      + QString(depth, QLatin1Char('}')));
            break;
        }
        case 3:  // wrong types with the accepted id
            out << (i % 3 == 0   ? text(rpc, uuid, refusedId, QJsonArray{1, 2})
                    : i % 3 == 1 ? text(rpc, uuid, refusedId, QStringLiteral("x"))
                                 : text(rpc, uuid, refusedId, QJsonValue()));
            break;
        case 4:  // wrong types in the topic or the id
            out << (i % 2 ? QStringLiteral("{\"datas\":{},\"device_id\":\"%1\",\"topic\":%2,\"uuid\":\"u\"}")
                                .arg(refusedId)
                                .arg(rng.bounded(1000))
                          : text(rpc, uuid, QJsonObject{{QStringLiteral("id"), refusedId}}, QJsonObject()));
            break;
        case 5:  // another sender
            out << text(rpc, uuid, otherIds[int(rng.bounded(otherIds.size()))], QJsonObject());
            break;
        case 6:  // a topic that is neither a request nor a reply
            out << text(wrongTopics[int(rng.bounded(wrongTopics.size()))], uuid, refusedId, QJsonObject());
            break;
        default:  // JSON that is no frame
            out << (i % 3 == 0   ? QStringLiteral("null")
                    : i % 3 == 1 ? QStringLiteral("[{\"topic\":\"%1\",\"uuid\":\"u\",\"datas\":{}}]").arg(rpc)
                                 : QStringLiteral("{\"topic\":\"%1\",\"datas\":{},\"device_id\":\"%2\"}")
                                       .arg(rpc, refusedId));
            break;
        }
    }
    return out;
}

// Everything a link emits, with the thread it was emitted on.
struct SignalLog {
    mutable QMutex mutex;
    int broke = 0;
    QStringList restarts;
    QList<SRPC_WS_FormData> part1;
    QList<SRPC_WS_FormData> part2;
    QList<QThread*> threads;

    void attach(TM_ZRT_CamPairs* link)
    {
        QObject::connect(link, &CamPairsLink::sig_found_subcams_broke, link, [this] { note([this] { ++broke; }); },
                         Qt::DirectConnection);
        QObject::connect(link, &CamPairsLink::sig_restartrpc_subcams, link,
                         [this](QString id) { note([this, id] { restarts.append(id); }); }, Qt::DirectConnection);
        QObject::connect(link, &CamPairsLink::sig_recvC2c_rpcmeet_part1, link,
                         [this](SRPC_WS_FormData f) { note([this, f] { part1.append(f); }); }, Qt::DirectConnection);
        QObject::connect(link, &CamPairsLink::sig_recvc2C_rpcmeet_part2, link,
                         [this](SRPC_WS_FormData f) -> int {
                             note([this, f] { part2.append(f); });
                             return 1;
                         },
                         Qt::DirectConnection);
    }
    template <class F>
    void note(F f)
    {
        QMutexLocker lock(&mutex);
        f();
        threads.append(QThread::currentThread());
    }
    int brokeCount() const
    {
        QMutexLocker lock(&mutex);
        return broke;
    }
    QStringList restartList() const
    {
        QMutexLocker lock(&mutex);
        return restarts;
    }
    QList<SRPC_WS_FormData> requests() const
    {
        QMutexLocker lock(&mutex);
        return part1;
    }
    QList<SRPC_WS_FormData> replies() const
    {
        QMutexLocker lock(&mutex);
        return part2;
    }
    QList<QThread*> emittingThreads() const
    {
        QMutexLocker lock(&mutex);
        return threads;
    }
};

class GroupLan {
public:
    bool ok() const { return lan.ok(); }
    QString why() const { return lan.error(); }

    LanHost* host()
    {
        LanHost* h = lan.addHost();
        return h;
    }
    // A link made on the host (its link thread inherits the host's network).
    TM_ZRT_CamPairs* link(LanHost* h, const SRPC_WS_Interface& view, bool listen = true)
    {
        TM_ZRT_CamPairs* l = nullptr;
        h->call([&] { l = new TM_ZRT_CamPairs(nullptr, false); });
        l->set_interface(view);
        if (listen) {
            bool ok = false;
            onLink(l, [&] { ok = l->InitWsServer(true); });
            if (!ok)
                return nullptr;
        }
        m_links.append({h, l});
        return l;
    }
    void destroy(TM_ZRT_CamPairs* l)
    {
        for (int i = 0; i < m_links.size(); ++i) {
            if (m_links[i].second == l) {
                m_links[i].first->call([l] { delete l; });
                m_links.removeAt(i);
                return;
            }
        }
    }
    SubCameraSimulator* sim(LanHost* h, const SubCameraSimulator::Config& cfg)
    {
        SubCameraSimulator* s = nullptr;
        h->call([&] {
            s = new SubCameraSimulator(cfg);
            if (!s->start()) {
                delete s;
                s = nullptr;
            }
        });
        if (s)
            m_sims.append({h, s});
        return s;
    }
    ~GroupLan()
    {
        for (auto& l : m_links)
            l.first->call([&] { delete l.second; });
        for (auto& s : m_sims)
            s.first->call([&] { delete s.second; });
    }

    PrivateLan lan;

private:
    QList<QPair<LanHost*, TM_ZRT_CamPairs*>> m_links;
    QList<QPair<LanHost*, SubCameraSimulator*>> m_sims;
};

// A main camera's link and its one sub's link, each on a host of its own
// (links null when they could not be made).
struct MainAndSub {
    LanHost* mainHost = nullptr;
    LanHost* subHost = nullptr;
    TM_ZRT_CamPairs* main = nullptr;
    TM_ZRT_CamPairs* sub = nullptr;
};

inline MainAndSub mainAndSub(GroupLan& g, const QString& mainId, const QString& subId)
{
    MainAndSub m;
    m.mainHost = g.host();
    m.subHost = g.host();
    if (!m.mainHost || !m.subHost)
        return m;
    m.main = g.link(m.mainHost, mainView(mainId, {member(subId, m.subHost->address(), 0)}));
    m.sub = g.link(m.subHost, subView(subId, mainId));
    return m;
}

// The work-event test group over the real link: main "M1" and subs "S1",
// "S2"..., each camera on its own LAN host with a real link listening on
// 8765 there, and its own main thread with reactor and recording seam. The
// main's heartbeat is driven by hand (pair()). Check ok() first.
class LanCameraGroup {
public:
    explicit LanCameraGroup(int subs)
    {
        if (!m_lan.ok())
            return;
        std::vector<LanHost*> hosts;
        for (int i = 0; i <= subs; ++i) {
            LanHost* h = m_lan.host();
            if (!h)
                return;
            hosts.push_back(h);
        }
        QList<DeviceNetInfo> subList;
        for (int i = 1; i <= subs; ++i)
            subList << DeviceNetInfo(QStringLiteral("S%1").arg(i), hosts[size_t(i)]->address(), 0);
        for (int i = 0; i <= subs; ++i) {
            const SRPC_WS_Interface view = testsupport::groupView(
                i == 0 ? QStringLiteral("M1") : QStringLiteral("S%1").arg(i), hosts[0]->address(), subList);
            TM_ZRT_CamPairs* link = m_lan.link(hosts[size_t(i)], view);
            if (!link)
                return;
            auto cam = std::make_unique<testsupport::GroupCameraCore>();
            cam->start(link, view);
            m_links.push_back(link);
            m_hosts.push_back(hosts[size_t(i)]);
            m_cams.push_back(std::move(cam));
        }
        m_ok = true;
    }

    ~LanCameraGroup()
    {
        testsupport::waitFor([] { return RpcDistributed_Core::liveCount() == 0; });
        for (auto& c : m_cams)
            c->stop();  // the links go with the LAN, after their reactors
    }

    bool ok() const { return m_ok; }
    QString why() const { return m_lan.why(); }

    // Ticks the main's heartbeat until every sub is paired.
    bool pair() { return pairEventually(link(0)); }

    testsupport::GroupCameraCore& main() { return *m_cams[0]; }
    testsupport::GroupCameraCore& sub(int i) { return *m_cams[size_t(i)]; }
    TM_ZRT_CamPairs* link(int i) { return m_links[size_t(i)]; }
    LanHost* host(int i) { return m_hosts[size_t(i)]; }
    // A host of the LAN that is no camera of the group.
    LanHost* stranger() { return m_lan.host(); }

    QVariantMap activate(const QString& topic, const QVariantMap& datas, const QString& uuid = QStringLiteral("ev-1"),
                         qint64* elapsedNs = nullptr)
    {
        return main().activate(topic, datas, uuid, elapsedNs);
    }

private:
    GroupLan m_lan;  // outlives the cameras
    std::vector<TM_ZRT_CamPairs*> m_links;
    std::vector<LanHost*> m_hosts;
    std::vector<std::unique_ptr<testsupport::GroupCameraCore>> m_cams;
    bool m_ok = false;
};

}  // namespace grouptest

// Starts a test that needs the LAN: makes `g`, skips without the right.
#define LAN_OR_SKIP(g)                     \
    grouptest::GroupLan g;                 \
    if (!g.ok())                           \
        GTEST_SKIP() << g.why().toStdString()
