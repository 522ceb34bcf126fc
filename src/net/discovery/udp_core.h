#pragma once
// A small UDP datagram service, the base of the discovery server and client:
// takes stock of the usable network cards at construction, listens on any
// number of bound sockets from one background task (one select, 200 ms
// passes), hands each datagram to the virtual AnalysisRecvMessage in the
// object's own thread, and sends through short-lived broadcast sockets,
// fire-and-forget or waiting for an answer.
//
// Threads: the object lives on the thread that creates it, which must run an
// event loop for datagrams to be analysed. The listening task runs on the
// global thread pool and shares only the socket list (under its lock) and the
// running flag. Sockets are made on the calling thread, so they belong to its
// network namespace.
#include "foundation/zrc_deviceinfos.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

#include <netinet/in.h>

#include <atomic>
#include <string>

Q_DECLARE_METATYPE(sockaddr_in)
Q_DECLARE_METATYPE(std::string)

// One send.
struct Udpsend_Cond {
    std::string dst_ip = "255.255.255.255";
    int dst_port = 10411;
    std::string bind_ip = "0.0.0.0";  // selects the card
    int wait_ms = 100;                // 0: send and return; > 0: wait for an answer, at most 1000
    int resend_ms = 0;                // while waiting, resend this often; 0: send once
};

enum ZRU_INTER_ERROR {
    ZRU_OK = 0,
    ZRU_ERR_BROADCAST = 2,
    ZRU_ERR_BIND = 4,
    ZRU_ERR_NONBLOCK = 8,
    ZRU_ERR_NOANSWER = 16,
    ZRU_ERR_ARGUMENT = 32,
};

// One UDP socket bound to a random port of `bind_ip`, with its destination.
class ZRU_BroadcastSocket {
public:
    explicit ZRU_BroadcastSocket(Udpsend_Cond cond);
    ~ZRU_BroadcastSocket();
    ZRU_BroadcastSocket(const ZRU_BroadcastSocket&) = delete;
    ZRU_BroadcastSocket& operator=(const ZRU_BroadcastSocket&) = delete;

    // The result of sendto of the whole data; -1 without a socket.
    int send(const std::string& data);
    int send(const void* data, int len);
    int descriptor() const { return m_fd; }

private:
    Udpsend_Cond m_cond;
    int m_fd = -1;  // -1: no socket
    sockaddr_in m_dst{};
};

class UDP_Core : public QObject {
    Q_OBJECT
public:
    explicit UDP_Core(QObject* parent = nullptr);
    ~UDP_Core() override;

    ZRU_INTER_ERROR addListen(std::string ip, int port);
    void stopListen();
    int send_core(Udpsend_Cond cond, std::string data, std::string& reply);

    DeviceNetInfo_Detail foundNetBaseByIP(const QString& ip) const;
    QString getSameUseNet(QString ip) const;

    QMap<QString, DeviceNetInfo_Detail> cards() const { return m_cards; }
    QString serviceId() const { return m_serviceId; }
    QString lastError() const { return m_lastError; }
    int listeningSockets() const;
    bool isListening() const { return m_running.load(); }

    // The length of the text of a received datagram: the bytes before the
    // first zero byte.
    static int textLength(const QByteArray& datagram);

public slots:
    void Slot_StartListen();
    virtual QString AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf);

public:
    virtual void PrintRecvMsg(QString result, QString line);

signals:
    void sig_sync_send_core(QString recv);

protected:
    // Re-reads one card into the table (after its addresses changed).
    bool rereadCard(const QString& ifname, const QString& oldMac);

    QMap<QString, DeviceNetInfo_Detail> m_cards;  // by MAC text
    QString m_serviceId;
    QString m_lastError;

private:
    void logSend(const ZRU_BroadcastSocket& s, const Udpsend_Cond& cond, const std::string& data);

    QFuture<void> m_listener;
    std::atomic<bool> m_running{false};
    QList<int> m_sockets;
    mutable QMutex m_socketLock;
};
