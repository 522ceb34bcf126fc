#pragma once
// One short-lived push to an operator application: a client-role HTTP
// manager with a lifetime. It ends itself (deferred delete) when the answer
// came, when its connection closed, or when its lifetime ran out. The
// lifetime counts from the last byte handed over: a send still moving its
// bytes is ended by its own guard only.
//
// Threads: lives on the thread that created it (the publisher's).
#include "net/httpmanager.h"

#include <QTimer>

class Tcp_Push2APP : public HttpManager {
    Q_OBJECT
public:
    explicit Tcp_Push2APP(int lifetime_s, QObject* parent = nullptr);
    ~Tcp_Push2APP() override;

    bool isAlive() const { return alive; }

public slots:
    void SlotRecvResponse(CTask_FormData form, bool matched) override;

protected:
    // The push ends as soon as its connection closes.
    void reactorMade(CLSC::TcpReactor* r) override;

private:
    void finish();
    void onLifetimeOver();

    QTimer life_timer;
    bool alive = true;
    bool m_extended = false;
    int m_lifetimeMs = 0;
};
