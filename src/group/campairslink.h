#pragma once
// The camera-pair link as the work events see it: carries group messages from
// the main camera to its sub cameras and back. The real link (WebSocket, one
// server per camera, one client per sub on the main camera) derives from
// this; tests use an in-process one.
//
// Threads: the link object lives on a thread of its own (the link thread),
// which owns every socket and timer of the link.
//  - SpreadMessage, SendMessage_RpcBack and InitWsServer may be called from
//    any thread. Called on another thread they re-post themselves to the link
//    thread with a queued invocation by method name and return at once
//    (0, 0, false); the real result is discarded. SpreadMessage returns -1 on
//    a camera that is not the main camera, on whatever thread, and sends
//    nothing.
//  - SpreadMessage (link thread): appends "(rpc)" to the topic and, for each
//    sub, stamps the own device id and sends the form's text frame.
//  - SendMessage_RpcBack (link thread): -1 without a reply endpoint
//    (`session`); else stamps the own device id, appends "(rpc_back)" and
//    sends the frame on that endpoint.
//  - set_interface / get_interface: any thread, copied under a mutex.
//  - getIsCnetd / getTimerAlived: any thread.
//  - sig_recvC2c_rpcmeet_part1: emitted on the link thread for every valid
//    request with a topic that the server side receives (no local handler);
//    the reactor takes it queued to the main thread. `session` is set.
//  - sig_recvc2C_rpcmeet_part2: emitted on the link thread for every text
//    frame that a client receives from its sub camera, valid or not; the
//    main-side driver connects it directly to the running work event, so
//    replies are collected on the link thread.
//  - sig_found_subcams_broke / sig_restartrpc_subcams: link supervision.
#include "group/rpcdist_define.h"

#include <QObject>
#include <QString>

class CamPairsLink : public QObject {
    Q_OBJECT
public:
    explicit CamPairsLink(QObject* parent = nullptr) : QObject(parent) {}
    ~CamPairsLink() override = default;

    // The membership record (own id, main id, subs, main flag).
    virtual void set_interface(SRPC_WS_Interface iface) = 0;
    virtual SRPC_WS_Interface get_interface() const = 0;

    // Every sub camera has a live client (main camera).
    virtual bool getIsCnetd() const = 0;
    // The link's heartbeat ticked recently.
    virtual bool getTimerAlived() const = 0;

public slots:
    virtual int SpreadMessage(SRPC_WS_FormData formdata) = 0;
    virtual int SendMessage_RpcBack(SRPC_WS_FormData formdata) = 0;
    virtual bool InitWsServer(bool start = true) = 0;

signals:
    void sig_found_subcams_broke();
    void sig_restartrpc_subcams(QString subid);
    void sig_recvC2c_rpcmeet_part1(SRPC_WS_FormData formdata);
    int sig_recvc2C_rpcmeet_part2(SRPC_WS_FormData formdata);
};
