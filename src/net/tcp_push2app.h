#pragma once
// One short-lived push to an operator application: a client-role HTTP
// manager with a lifetime. It ends itself (deferred delete) when the answer
// came, when its connection closed, or when its lifetime ran out.
//
// Threads: lives on the thread that created it (the publisher's).
#include "net/httpmanager.h"

#include <QTimer>

class Tcp_Push2APP : public HttpManager {
    Q_OBJECT
public:
    explicit Tcp_Push2APP(int lifetime_s, QObject* parent = nullptr);
    ~Tcp_Push2APP() override;

    // Connects like HttpManager::startReactor and, on success, ends the push
    // as soon as its connection closes.
    bool startReactor(const QHostAddress& host, quint16 port, int mode) override;
    bool isAlive() const { return alive; }

public slots:
    void SlotRecvResponse(CTask_FormData form, bool matched) override;

private:
    void finish();

    QTimer life_timer;
    bool alive = true;
};
