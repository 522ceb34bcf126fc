#include "manager/programlivenessprobes.h"

#include "manager/apppushes.h"
#include "manager/pushsources.h"
#include "net/publishbench.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

class QuietSources : public PushSources {
public:
    QJsonObject runState() override { return QJsonObject{{"state", 0}}; }
    int shownDetectIndex() override { return -1; }
    QJsonObject detectInfo(int) override { return {}; }
    QJsonArray roisResult(int) override { return {}; }
    cv::Mat origMask() override { return {}; }
    cv::Rect origMaskScope() override { return {}; }
    QJsonObject cameraParams() override { return {}; }
    QJsonObject picFileList() override { return {}; }
    bool colourFrames() override { return false; }
};

TEST(ProgramLivenessProbes, AbsentPartsAreNeitherAliveNorConnected)
{
    nettest::CameraWork camera;  // main camera with one sub camera
    ProgramLivenessProbes probes({});
    EXPECT_FALSE(probes.ioLinkUp());
    EXPECT_FALSE(probes.ioAlive());
    EXPECT_FALSE(probes.mainAlive());
    EXPECT_FALSE(probes.camPairsAlive());
    EXPECT_FALSE(probes.httpServerAlive());
    EXPECT_FALSE(probes.heartbeatAlive());
    EXPECT_TRUE(probes.heartbeatTargets().isEmpty());
    probes.cutOutputs();  // nothing to cut, no crash
    probes.resetOutputs();
    // Without the camera-pair link a main camera with a sub camera is not linked.
    EXPECT_FALSE(probes.cameraLinksUp());
}

TEST(ProgramLivenessProbes, CameraLinksWithoutALinkOnlyWhereThereIsNothingToLink)
{
    struct Case {
        bool mainCamera;
        bool withSub;
        bool up;
    };
    for (const Case& c : {Case{true, true, false}, Case{true, false, true}, Case{false, true, true}}) {
        SCOPED_TRACE(testing::Message() << c.mainCamera << c.withSub);
        nettest::CameraWork camera(c.mainCamera);
        if (!c.withSub) {
            ZRC_DeviceInfos g = camera.mgr->get_device_info();
            g.cameras = {g.cameras.first()};
            camera.mgr->set_device_info(g);
        }
        EXPECT_EQ(ProgramLivenessProbes({}).cameraLinksUp(), c.up);
    }
    nettest::CameraWork camera;
    ProgramLivenessProbes::Parts parts;
    parts.cameraLinksUp = [] { return true; };
    parts.camPairsAlive = [] { return true; };
    ProgramLivenessProbes linked(parts);
    EXPECT_TRUE(linked.cameraLinksUp());
    EXPECT_TRUE(linked.camPairsAlive());
}

TEST(ProgramLivenessProbes, MainAliveFollowsTheRunStateRefresh)
{
    nettest::CameraWork camera;
    QuietSources sources;
    AppPushes pushes(&sources, nullptr);
    qint64 now = 1000000;
    pushes.setMonotonicClock([&] { return now; });
    ProgramLivenessProbes::Parts parts;
    parts.pushes = &pushes;
    ProgramLivenessProbes probes(parts);
    pushes.update_stash_runstate_json(false);
    EXPECT_TRUE(probes.mainAlive());
    now += 2000;
    EXPECT_FALSE(probes.mainAlive());
}

}  // namespace
