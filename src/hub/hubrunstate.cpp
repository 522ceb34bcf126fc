// The run-state report of the hub and its two smaller relatives, the camera
// status and the detection information. They only read copies of shared
// state, so any thread may ask.
#include "hub/divuvarude.h"

#include "capture/aiqcontrol.h"
#include "flow/product_interface.h"
#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "hub/hubmanager.h"
#include "io/frameio.h"
#include "io/frameio_reactor.h"

#include <QDebug>
#include <QJsonArray>

#include <atomic>

namespace {

FlowGroup_State runDescription()
{
    HubManager* manager = HubManager::instance();
    HubFlow* flow = manager ? manager->flowManager() : nullptr;
    return flow ? flow->get_RunDescribe() : FlowGroup_State();
}

QJsonArray eightBits(int word)
{
    QJsonArray bits;
    for (int i = 0; i < 8; ++i)
        bits.append((word >> i) & 1);
    return bits;
}

// This camera's position in the group list (main camera first), as the
// statistics count cameras; 0 when it is not listed.
int ownCameraIndex(ZRC_WorkInformation_Manager* work)
{
    const QList<DeviceNetInfo> cameras = work->get_device_info().cameras;
    for (int i = 0; i < cameras.size(); ++i) {
        if (cameras[i].role != 1 && cameras[i].uuid == work->get_deviceid())
            return i;
    }
    return 0;
}

std::atomic<int> gNoIoReports{0};

}  // namespace

QJsonObject DiVuVarude::getRunState()
{
    ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
    QJsonObject out;
    const ZRC_WorkInfos info = work->get_working_info();
    FrameIO* io = g_FrameIO.data();
    const int inputs = io && io->getReactor() ? io->getReactor()->get_input_word() : 0;
    out.insert(QStringLiteral("io_input"), eightBits(inputs));
    out.insert(QStringLiteral("io_output"), eightBits(work->get_working_info().output_bits));
    out.insert(QStringLiteral("deviceid"), work->get_deviceid());
    out.insert(QStringLiteral("session"), QStringLiteral("<C;21;%1;%2>")
                                              .arg(work->get_deviceid(), QString::fromStdString(info.group_text)));
    out.insert(QStringLiteral("input_timeout"), info.no_input_warning != 0);
    out.insert(QStringLiteral("warn_msg"), ZRC_WorkInformation_Manager::parseWarnTip(info.warn_tip));

    const FlowGroup_State flow = runDescription();
    const bool main = work->IsMainCamera();
    HubManager* manager = HubManager::instance();
    Product_Interface* product = manager ? manager->productInterface() : nullptr;
    const bool dataLost = main && product && product->detect_exception.load() != 0;
    int state = flow.fgs_zrp_flag;
    QString text = flow.fgs_zrp_describe;
    if (main && !(info.link_flags & 1)) {
        state = -1;
        text = tr("单元组异常-未发现IO");
        const int before = gNoIoReports.fetch_add(1);
        if (before % 100 == 0)
            qCInfo(level_1).noquote() << text << before + 1;
    } else if (main && !(info.link_flags & 2)) {
        state = -1;
        text = tr("单元组异常-丢失子相机");
    } else if (dataLost) {
        state = -2;
        text = tr("检测异常-丢失数据");
    }
    if (!work->get_working_info().started) {
        state = 7;
        text = tr(" 停止检测");
    }
    out.insert(QStringLiteral("sys_stop"), flow.fgs_runstate == 2);
    // What the operator must do to release a held machine; empty while
    // nothing holds it (a lost link releases itself when it is back).
    out.insert(QStringLiteral("release_actions"),
               QJsonArray::fromStringList(holdReleaseRoutes(dataLost, flow.fgs_runstate == FlowRunState_NGStop)));
    out.insert(QStringLiteral("state"), state);
    out.insert(QStringLiteral("state_describe"), text);
    out.insert(QStringLiteral("cur_detect"), flow.fgs_zrp_show_unitindex_abs);
    out.insert(QStringLiteral("fps"), gFPS.load());
    out.insert(QStringLiteral("dutycycle"), flow.period_ms / 1000.0);

    const QVariantMap stats = manager ? manager->stat_getCur(ownCameraIndex(work)) : QVariantMap();
    const int ng = stats.value(QStringLiteral("detect_ng")).toInt();
    const int ok = stats.value(QStringLiteral("detect_ok")).toInt();
    out.insert(QStringLiteral("detect_ng"), ng);
    out.insert(QStringLiteral("detect_number"), ng + ok);
    return out;
}

void DiVuVarude::getCameraState(QJsonObject& obj)
{
    const int runstate = runDescription().fgs_runstate;
    if (runstate == 0) {
        obj.insert(QStringLiteral("status_code"), 0);
        obj.insert(QStringLiteral("status_describe"), tr("正常运行"));
    } else if (runstate == 1) {
        obj.insert(QStringLiteral("status_code"), 2);
        obj.insert(QStringLiteral("status_describe"), tr("重新采样"));
    } else {
        obj.insert(QStringLiteral("status_code"), runstate);
    }
}

QJsonObject DiVuVarude::detectInfo(int detect)
{
    const FlowGroup_State flow = runDescription();
    return QJsonObject{{QStringLiteral("cur_detect"), detect},
                       {QStringLiteral("datatype"), 0},
                       {QStringLiteral("stop"), flow.fgs_zrp_flag == 3}};
}
