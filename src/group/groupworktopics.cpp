#include "group/groupworktopics.h"

#include "group/rpcdistributed_reactor.h"
#include "group/rpcwork_addtemplate.h"
#include "group/rpcwork_iocatch.h"
#include "group/rpcwork_nocheck.h"
#include "group/rpcwork_normaldetect.h"
#include "group/rpcwork_quickmeet.h"
#include "group/rpcwork_redetect.h"
#include "group/rpcwork_resample.h"
#include "group/rpcwork_resultdetect.h"

void registerGroupWorkTopics(RpcDistributed_Reactor* reactor)
{
    reactor->register_workevent<RpcWork_NormalDetect>(QStringLiteral("/dide/action/manual_catch"));
    reactor->register_workevent<RpcWork_NoCheck>(QStringLiteral("/dide/action/noactionmold"));
    reactor->register_workevent<RpcWork_ReDetect>(QStringLiteral("/dide/action/redetect"));
    reactor->register_workevent<RpcWork_AddTemplate>(QStringLiteral("/dide/action/addtemplate"));
    reactor->register_workevent<RpcWork_Resample>(QStringLiteral("/dide/action/resample"));
    reactor->register_workevent<RpcWork_IOCatch>(QStringLiteral("/dide/action/io_catch"));
    reactor->register_workevent<RpcWork_ResultDetect>(QStringLiteral("/dide/action/pre_result"));
    // The quick meets reach the seam that the reactor holds when they run.
    reactor->register_quickmeet(QStringLiteral("/dide/sync/baseinfo"), [reactor](SRPC_WS_FormData f) {
        return RpcWork_Sync_CountDetail(std::move(f), reactor->services());
    });
    reactor->register_quickmeet(QStringLiteral("/dide/sync/subscribe"), [reactor](SRPC_WS_FormData f) {
        return RpcWork_Sync_Subscribe(std::move(f), reactor->services());
    });
    reactor->register_quickmeet(QStringLiteral("/dide/sync/savefailimageonngnostop"),
                                [reactor](SRPC_WS_FormData f) {
                                    return RpcWork_Sync_SaveFailImageOnNgNoStop(std::move(f), reactor->services());
                                });
}
