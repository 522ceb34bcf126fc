#pragma once
// A camera group in one process: a main camera "M1" and its subs "S1",
// "S2"..., each with its own main thread (reactor with the topic table, a
// recording fake seam) and its own in-process link thread.
#include "group/groupworktopics.h"
#include "group/rpcdistributed_reactor.h"
#include "support/fakegroupservices.h"
#include "support/inprocesslink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <memory>

namespace testsupport {

// Waits (processing this thread's events) until `cond` holds; false after
// `ms` (generous: the machine may be loaded).
inline bool waitFor(const std::function<bool()>& cond, int ms = 60000)
{
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// One camera of a test group but its link: its own main thread with the
// reactor (topic table registered) and a recording fake seam.
struct GroupCameraCore {
    QString id;
    QThread thread;  // the camera's main thread
    QObject context;
    FakeGroupServices services;
    RpcDistributed_Reactor* reactor = nullptr;

    // Runs `fn` on the camera's main thread and returns when it is done.
    void onMain(const std::function<void()>& fn)
    {
        QMetaObject::invokeMethod(&context, fn, Qt::BlockingQueuedConnection);
    }
    // Starts the main thread and makes the reactor there, over `link`.
    void start(CamPairsLink* link, const SRPC_WS_Interface& view)
    {
        id = view.own_id;
        context.moveToThread(&thread);
        thread.start();
        onMain([this, link, view] {
            reactor = new RpcDistributed_Reactor(nullptr, link, &services);
            registerGroupWorkTopics(reactor);
            reactor->connection_establishment(view);
        });
    }
    // Frees the reactor on its thread and stops the thread.
    void stop()
    {
        onMain([this] { delete reactor; });
        thread.quit();
        thread.wait();
    }
    // Starts the work event `topic` here (on the main camera, as the flow
    // does) and returns its answer; `elapsedNs` takes the time the call took.
    QVariantMap activate(const QString& topic, const QVariantMap& datas, const QString& uuid,
                         qint64* elapsedNs = nullptr)
    {
        SRPC_WS_FormData form;
        form.valid = true;
        form.topic = topic;
        form.uuid = uuid;
        form.datas = datas;
        QVariantMap answer;
        onMain([&] {
            QElapsedTimer t;
            t.start();
            answer = reactor->activate_workevent(form);
            if (elapsedNs)
                *elapsedNs = t.nsecsElapsed();
        });
        return answer;
    }
};

// The view of camera `own` in a group of main "M1" (at `mainAddress`) and
// `subs`.
inline SRPC_WS_Interface groupView(const QString& own, const QString& mainAddress, const QList<DeviceNetInfo>& subs)
{
    SRPC_WS_Interface view;
    view.own_id = own;
    view.main_id = QStringLiteral("M1");
    view.main_address = mainAddress;
    view.subs = subs;
    view.is_main = own == view.main_id;
    return view;
}

struct GroupCamera : GroupCameraCore {
    InProcessLink link;
};

class CameraGroup {
public:
    explicit CameraGroup(int subs)
    {
        QList<DeviceNetInfo> subList;
        for (int i = 1; i <= subs; ++i)
            subList << DeviceNetInfo(QStringLiteral("S%1").arg(i), QStringLiteral("10.0.0.%1").arg(10 + i), 0);
        for (int i = 0; i <= subs; ++i) {
            auto cam = std::make_unique<GroupCamera>();
            cam->start(&cam->link, groupView(i == 0 ? QStringLiteral("M1") : QStringLiteral("S%1").arg(i),
                                             QStringLiteral("10.0.0.10"), subList));
            m_cams.push_back(std::move(cam));
        }
        for (int i = 1; i <= subs; ++i)
            m_cams[0]->link.attachSub(m_cams[size_t(i)]->id, &m_cams[size_t(i)]->link);
    }

    ~CameraGroup()
    {
        // Events delete themselves on their camera's thread.
        waitFor([] { return RpcDistributed_Core::liveCount() == 0; });
        for (auto& c : m_cams)
            c->stop();
    }

    GroupCamera& main() { return *m_cams[0]; }
    GroupCamera& sub(int i) { return *m_cams[size_t(i)]; }

    // Starts the work event `topic` on the main camera's main thread (as the
    // flow does) and returns its answer; `elapsedNs` takes the time the call
    // took there.
    QVariantMap activate(const QString& topic, const QVariantMap& datas, const QString& uuid = QStringLiteral("ev-1"),
                         qint64* elapsedNs = nullptr)
    {
        return main().activate(topic, datas, uuid, elapsedNs);
    }

private:
    std::vector<std::unique_ptr<GroupCamera>> m_cams;
};

}  // namespace testsupport
