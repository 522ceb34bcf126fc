#pragma once
// A camera-pair link inside one process: one object per camera on a thread
// of its own, carrying real text frames between a main camera's link and its
// subs' links, with the re-posting, suffixes and stamping of the real link.
// A sub's link can be scripted to answer badly.
//
// Threads: like the real link; attachSub and the scripts are set before use.
#include "group/campairslink.h"

#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QStringList>
#include <QThread>

namespace testsupport {

class InProcessLink : public CamPairsLink {
    Q_OBJECT
public:
    enum class Reply { Normal, Silent, Late, Duplicate, WrongUuid, Unparsable, ForeignId, BadPassport };

    InProcessLink();
    ~InProcessLink() override;  // from any thread but the link's own

    void set_interface(SRPC_WS_Interface iface) override;
    SRPC_WS_Interface get_interface() const override;
    bool getIsCnetd() const override { return true; }
    bool getTimerAlived() const override { return true; }

    // Main camera: the sub `id` is reached through `sub`.
    void attachSub(const QString& id, InProcessLink* sub);
    // Sub camera: how this link treats requests and answers them.
    void setReply(Reply reply, int delayMs = 0);

    QThread* linkThread() { return &m_thread; }
    // Frames this link sent, in order, and the threads it sent them on.
    QStringList sentFrames() const;
    QList<QThread*> sendThreads() const;
    // The threads on which InitWsServer ran its work, in order.
    QList<QThread*> initThreads() const;

public slots:
    int SpreadMessage(SRPC_WS_FormData formdata) override;
    int SendMessage_RpcBack(SRPC_WS_FormData formdata) override;
    bool InitWsServer(bool start = true) override;

private:
    void receiveRequest(const QString& text, InProcessLink* from);  // sub's link thread
    void receiveReply(const QString& text);                         // main's link thread
    void deliver(InProcessLink* to, const QString& text, bool request);
    void noteSent(const QString& text);

    QThread m_thread;
    mutable QMutex m_mutex;
    SRPC_WS_Interface m_iface;
    QMap<QString, QPointer<InProcessLink>> m_subs;
    Reply m_reply = Reply::Normal;
    int m_delayMs = 0;
    QStringList m_sent;
    QList<QThread*> m_sendThreads;
    QList<QThread*> m_initThreads;
};

}  // namespace testsupport
