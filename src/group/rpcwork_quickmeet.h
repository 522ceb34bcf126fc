#pragma once
// The quick meets that a sub camera runs when its main camera sends them:
// take over the main camera's counters, register the same subscribers, save
// the pending NG picture of a step that did not stop the machine. Each reads
// only the form's data map and returns an empty map; nothing goes back.
//
// Threads: the camera's main thread (the reactor's).
#include "group/groupworkservices.h"
#include "group/rpcdist_define.h"

#include <QVariantMap>

// "/dide/sync/baseinfo": the whole data map to the statistics.
QVariantMap RpcWork_Sync_CountDetail(SRPC_WS_FormData formdata, GroupWorkServices* services);
// "/dide/sync/subscribe": "message" (a subscriber request's JSON text) to the
// publisher; an array registers nobody, unparsable text nothing.
QVariantMap RpcWork_Sync_Subscribe(SRPC_WS_FormData formdata, GroupWorkServices* services);
// "/dide/sync/savefailimageonngnostop": the pending NG picture of
// "detect_index" (an integer 0..3) as NG without stop (kind 8).
QVariantMap RpcWork_Sync_SaveFailImageOnNgNoStop(SRPC_WS_FormData formdata, GroupWorkServices* services);
