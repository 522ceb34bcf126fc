#pragma once
// One work event on one camera: runs this camera's part (onMainWorking on the
// main camera, onSubWorking on a sub), files its unit and, on the main
// camera, waits until every member of the group has filed one or the time
// limit has passed. The wait runs in the object's own thread, which does
// nothing but an event loop with the limit's timer.
//
// Threads: constructed, started (start_workevent), finished and destroyed on
// the camera's main thread, where the own work and every seam call run.
// Replies are filed from the link thread (onAction_recvc2C). The loop's three
// ends (limit, quit, every unit in) run on the event's own thread; whoever
// asks for an end from another thread waits until the loop has handled it,
// and an end asked for on the event's own thread is handled at once.
#include "group/groupworkservices.h"
#include "group/rpcdist_define.h"
#include "group/workevent_record.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <QVariantMap>
#include <QWaitCondition>

#include <atomic>
#include <functional>

class QEventLoop;

class RpcDistributed_Core : public QThread {
    Q_OBJECT
public:
    // Starts the event's thread and returns at once, the wait armed (ends
    // asked for from now on are handled by the loop once it runs). The limit
    // counts from here; `timeout_ms` < 0 takes the base limit (10000 ms).
    RpcDistributed_Core(const SRPC_WS_FormData& form, QObject* parent = nullptr, int timeout_ms = -1);
    ~RpcDistributed_Core() override;

    // The base time limit of every work event (10000 ms). Test hook.
    static void setBaseTimeoutMs(int ms);
    static int baseTimeoutMs();
    // Work events constructed and not yet destroyed in this process.
    static int liveCount();

    // Runs the own work, files its unit under the view's own id, blocks until
    // the wait has ended and returns how it ended (the thread is joined when
    // the event is destroyed). Called once.
    WorkEvent_Error start_workevent();
    // The AND of the collected units' results (true for none).
    bool getResult() const;
    // Main-camera test of the view: no subs, or not a sub and flagged main.
    bool IsMainCamera() const;
    // Ends a running wait with "quit".
    void Close();
    // For each NG unit in id order: 0 for a non-sub, the sub's position + 1.
    QList<int> getNG_CamIndex() const;

    virtual QVariantMap finish_workevent();
    virtual void set_interface(SRPC_WS_Interface iface);
    virtual SRPC_WS_Interface get_interface() const;
    // Files `unit` under `id` when `id` is a sub of the view or the own id,
    // stamps its collect time and ends the wait once every member is in.
    virtual void update_collectlist(QString id, const SCollect_Unit& unit);
    virtual SCollect_Unit onMainWorking() = 0;
    virtual SCollect_Unit onSubWorking();
    virtual QVariantMap finish_main_workevent();
    virtual QVariantMap finish_sub_workevent();
    // Every sub of the view and the own id have filed a unit (always true on
    // a sub camera).
    virtual bool loopcheck();

    // The seam of this camera (set by the drivers before start_workevent).
    void set_services(GroupWorkServices* services) { m_services = services; }
    GroupWorkServices* services() const { return m_services; }

    const SRPC_WS_FormData& formdata() const { return m_form; }
    WorkEvent_Record& record() { return m_record; }
    const WorkEvent_Record& record() const { return m_record; }
    // How the wait ended so far: 0 before the wait, 1 while waiting, then 0
    // (all in), -1 (limit) or -2 (quit).
    int loopBack() const { return m_loopBack.load(); }
    // Test hook: runs `fn` on the event's thread while it waits (false when
    // it does not wait).
    bool invokeOnEventThread(std::function<void()> fn);
    // The thread on which the handler that ended the wait ran (null before).
    QThread* endHandlerThread() const;

public slots:
    // A sub camera's reply (link thread): 1 filed, -2 another work event,
    // -1 not a valid form or not from a sub of the group.
    int onAction_recvc2C(SRPC_WS_FormData form);

signals:
    void sigQuitLoop();
    void sigCheckPerfect();
    void sig_sendMessage(SRPC_WS_FormData formdata);

protected:
    void run() override;

private:
    enum LoopState { NotStarted, Waiting, Ended };
    // Asks the wait to end with `code`; blocks until it has ended (from
    // another thread), handles it at once on the event's own thread.
    void endLoop(int code);
    // Runs on the event's thread.
    void handleEnd(int code);
    // With m_loopMutex held: until an end has been handled or the loop has
    // gone.
    void waitForEnd();

    SRPC_WS_FormData m_form;
    SRPC_WS_Interface m_view;
    WorkEvent_Record m_record;
    QMutex m_workMutex;
    GroupWorkServices* m_services = nullptr;

    QElapsedTimer m_sinceCreate;  // the limit counts from construction
    // Lives on the event's thread from construction: the target of ends
    // asked for from elsewhere (queued until the loop runs).
    QObject* m_loopContext = nullptr;
    mutable QMutex m_loopMutex;  // guards the three below; never held with m_workMutex taken after it
    QWaitCondition m_loopCond;
    LoopState m_loopState = NotStarted;
    QEventLoop* m_loop = nullptr;
    QThread* m_endThread = nullptr;
    std::atomic<int> m_loopBack{0};
};
