#pragma once
// Messages of the camera group: the group message SRPC_WS_FormData with its
// compact JSON text frame, the group view SRPC_WS_Interface and the work-error
// codes. Plain copyable values; forms cross threads by value.
//
// A text frame reads {"datas":{...},"device_id":"...","topic":"...","uuid":"..."}
// (compact, keys sorted). Topic suffixes on the link: "(rpc)" a request from
// the main camera to a sub camera, "(rpc_back)" its answer.
#include "flow/flowworkevent.h"
#include "foundation/zrc_deviceinfos.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

class QWebSocket;

// One group message; also the form that starts a work event or a quick meet.
struct SRPC_WS_FormData {
    bool valid = false;  // built by the program, or accepted by wsbytes_2_srpcform
    // The endpoint a reply goes back on (set by the link on requests from the
    // main camera; never written into a frame). Read only on the link thread.
    QPointer<QObject> session;
    QString topic;
    QString uuid;       // id of one work event; a reply carries its request's
    QString device_id;  // the sender
    QVariantMap datas;
};

// The camera group as this camera sees it.
struct SRPC_WS_Interface {
    QString own_id;
    QString main_id;
    QString main_address;
    int main_value = -1;  // carried unchanged
    QList<DeviceNetInfo> subs;  // group order
    bool is_main = false;

    // 0-based position of the first sub whose device id equals `id` (exact,
    // case-sensitive), -1 when there is none.
    int getSubIndex(const QString& id) const;

    bool operator==(const SRPC_WS_Interface& o) const;
    bool operator!=(const SRPC_WS_Interface& o) const { return !(*this == o); }
};

// The outcome of one work event, carried as "work_error". There is no 5.
enum WorkEvent_Error {
    WorkEvent_Collected = 0,     // every member delivered its unit
    WorkEvent_Timeout = 1,       // the wait ran out
    WorkEvent_Quit = 2,          // the event was told to quit while waiting
    WorkEvent_InvalidForm = 3,   // invalid form or empty topic (reactor)
    WorkEvent_NoHandler = 4,     // no handler for the topic (reactor)
    WorkEvent_Other = 6,         // the wait ended with any other value
};

// The text frame of a form. An empty uuid is replaced, in the frame only, by
// "vc_webskt#" and the local time "yyyyMMdd_hhmmss_zzz".
QString srpcform_2_wsbytes(const SRPC_WS_FormData& form);
// The form read from a text frame; `valid` says whether it was accepted;
// `session` is always null. Never throws or crashes on any input. A text
// that is not JSON is logged ("parse_error:").
SRPC_WS_FormData wsbytes_2_srpcform(const QString& text);
// The same without logging: a text that is not JSON leaves the reader's
// error in `parseError` (for callers that log refusals at their own pace,
// such as the link facing whoever reaches its port).
SRPC_WS_FormData wsbytes_2_srpcform(const QString& text, QString* parseError);

// The work event's result map turned into the flow's record: "work_error"
// (0 when missing), "result" (1 for true, else 0), "result_detail" (device
// id -> unit map, each read by SCollect_Unit's map constructor, so a missing
// key gives false or 0) into the collect list. A result of 1 beside a work
// error is answered 0 (logged): only a complete event can pass. The one
// reading of a work event's answer, for the program and its tests.
FlowWork_WorkEvent_Back workevent_map_2_back(const QVariantMap& map);

// Registers "SRPC_WS_FormData" and "SCollect_Unit" for queued connections.
void registerGroupMetaTypes();

// Makes a connected WebSocket hand every frame to the network at once
// (TCP_NODELAY). A request and its answer are small frames: held back by the
// kernel until an earlier frame the peer did not answer is acknowledged (up
// to a delayed acknowledgement, 40 ms), a request sent soon after such a
// frame would wait for that. Qt drops the option when it is asked for before
// the connection exists, so each end sets it once connected. The TCP
// connection is looked for among the socket's children and, for a socket a
// server accepted, among the descendants of `owner` (the server). False
// (logged) when no connection was found to set it on.
bool sendFramesAtOnce(QWebSocket* socket, QObject* owner = nullptr);

Q_DECLARE_METATYPE(SRPC_WS_FormData)
Q_DECLARE_METATYPE(SRPC_WS_Interface)
