#pragma once
// The server role of the own HTTP layer: an operator application could call
// the camera through it instead of the HTTP control API. The program carries
// it and starts it nowhere; whoever does chooses address, port and mode and
// fills the routes (it registers none).
#include "net/httpmanager.h"

#include <QFuture>
#include <QJsonObject>

#include "flow/flowunit_passport.h"

class TcpMN_Business_Server : public HttpManager {
    Q_OBJECT
public:
    explicit TcpMN_Business_Server(QObject* parent = nullptr);
    ~TcpMN_Business_Server() override;

    // Answers at once with an empty-result envelope, status 200; always true.
    bool dosync_workevent(const CTask_FormData& form);

public slots:
    // Stores the request's user id as the current user of the work
    // information, then routes it (or answers 404).
    void SlotRecvRequest(CTask_FormData form) override;

signals:
    void sig_Api_subscriber(const QJsonObject& json);
    void sig_OnWork(FlowUnit_Passport passport);

private:
    QFuture<void> m_future;
};
