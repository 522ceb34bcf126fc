#pragma once
// One request or response of the camera's own HTTP/1.1 layer over TCP, and
// the timing record of one task of that layer.
//
// CTask_FormData is a plain value: each thread works on its own copy. Only
// its timing slot is shared-safe (a CVariant with its own lock), and the
// timing fields are atomics because the reactor thread and a session update
// the same record.
#include "foundation/cvariant.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <opencv2/core/mat.hpp>

#include <atomic>

// Timing of one task, epoch milliseconds (-1: that moment has not come yet).
struct TcpTsk_Info {
    TcpTsk_Info() : TcpTsk_Info(QString()) {}
    explicit TcpTsk_Info(const QString& uuid);
    TcpTsk_Info(const TcpTsk_Info& other);
    TcpTsk_Info& operator=(const TcpTsk_Info& other);

    // A first element holding a 32-bit integer becomes recvpacklength;
    // anything else is ignored.
    void tskup_chg_recvpacklength(const QList<QVariant>& args);
    // The eight "_tsk_..." report keys.
    QVariantMap getReportParam() const;

    QString url;
    std::atomic<qint64> create_timing;
    std::atomic<qint64> firstrecv_timing{-1};
    std::atomic<qint64> finishrecv_timing{-1};
    std::atomic<qint64> finishact_timing{-1};
    std::atomic<qint64> recv_times{-1};
    QString uuid;
    qint32 recvpacklength = -1;
};

// Package kinds of a form's body, as getTaskPkgType reports them.
enum CTask_PkgType {
    CTask_Pkg_Empty = 0,
    CTask_Pkg_Json = 1,
    CTask_Pkg_Mat = 2,
    CTask_Pkg_Bytes = 3,
    CTask_Pkg_Multi = 4,
};

struct CTask_FormData {
    QString peer_address;  // IPv4 text, without "::ffff:"
    quint16 peer_port = 0;
    QString method = QStringLiteral("POST");
    QString url;           // non-empty: a request; empty: a response
    QString uuid;          // travels as "User-Agent"
    qint32 session_index = -1;  // sending: -1 every session, -2 none
    QString content_type;
    qint32 status = 200;
    qint32 code = 0;
    QString msg = QStringLiteral("OK");
    QString device_id;
    QString user_id;
    QMap<QString, QString> query;
    QMap<QString, QString> headers;
    QByteArray body;
    QJsonObject json;
    QMap<QString, QVariant> variant_parts;
    QMap<QString, cv::Mat> mat_parts;
    QMap<QString, QByteArray> bytes_parts;
    CVariant<TcpTsk_Info> task_info;

    // 2 images, 3 bytes, 1 JSON, 4 variant parts, 0 nothing; first that holds.
    int getTaskPkgType() const;
    // The start line without its line end. A 404 or 503 response gets its
    // message and code -1 here, which its envelope then carries.
    QString getResponseFirstLine();
};

Q_DECLARE_METATYPE(CTask_FormData)

// Registers CTask_FormData for queued signals (idempotent).
void registerNetMetaTypes();
