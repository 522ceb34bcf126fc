#pragma once
// A heartbeat client on the HTTP-over-UDP reactor, carried but never started:
// the same heartbeat datagram as Udp_Push2APP_Simple, its answers taken from
// reassembled responses under the same rules (registration, taking the
// camera, the clock once), and a lifetime after which it deletes itself.
// Beyond those rules, an answer from the application that has taken the
// camera releases it with "dotaken" false, and its "language" becomes the
// operator application's language (g_Language); a language that differs
// from the last one seen goes on to the language sink (the manager's switch).
//
// Threads: as CLSC::UdpReactor; the answer slots run on the pool thread;
// getIsCnted and setLanguageSink may be called from any thread.
#include "net/udpreactor.h"

#include <QMap>
#include <QMutex>
#include <QTimer>

#include <functional>

class Udp_Push2APP : public CLSC::UdpReactor {
    Q_OBJECT
public:
    // `lifetime_s` -1: lives until deleted.
    explicit Udp_Push2APP(int lifetime_s);
    ~Udp_Push2APP() override;

    bool sendMsg(const QByteArray& body, QString host, int port, bool reconnect = false) override;
    QMap<QString, int> getIsCnted() const;

    // Where a changed language of the taken application goes; empty: only
    // g_Language changes. Installing a sink forgets the last language seen,
    // so the new receiver gets the next one named. Called on the thread of
    // the answer (it must re-post itself where needed).
    using LanguageSink = std::function<void(const QString& language)>;
    static void setLanguageSink(LanguageSink sink);

public slots:
    void slot_udp_recv_req(const CTask_FormData& form);
    void slot_udp_recv_rsp(const CTask_FormData& form);

private:
    QTimer life_timer;
    mutable QMutex time_lock;
    QMap<QString, double> sent_times;   // monotonic ms
    QMap<QString, double> reply_times;  // monotonic ms
};
