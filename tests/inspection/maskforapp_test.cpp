#include "inspection/maskforapp.h"

#include "foundation/zrc_workinformation_manager.h"
#include "inspection/maskpacking.h"

#include <gtest/gtest.h>

namespace {

cv::Mat sampleMask()
{
    cv::Mat m(10, 16, CV_8UC1, cv::Scalar(0));
    m(cv::Rect(4, 2, 6, 5)).setTo(255);
    m.at<uchar>(9, 15) = 1;
    return m;
}

TEST(MaskForApp, VersionRuleChoosesTheForm)
{
    struct Case {
        const char* version;
        bool packed;
    };
    const Case cases[] = {
        {"V1.6.7.94", true},   {"V1.6.7.93", true},  {"V1.5.9.999", true},
        {"V1.6.7.95", false},  {"V1.6.8", false},    {"", false},
        {"V1.6.7.94.1", false},  // more numbers than the last packed version: later
        {"garbage", false},
    };
    const cv::Mat mask = sampleMask();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const MaskForApp form = MaskForApp::build(mask, cv::Rect(4, 2, 6, 5), QString::fromLatin1(c.version));
        EXPECT_EQ(form.packed, c.packed);
        if (c.packed) {
            EXPECT_FALSE(form.packedBytes.isEmpty());
            EXPECT_TRUE(form.whole.empty());
        } else {
            // The whole uncut mask, no information object.
            EXPECT_EQ(form.whole.data, mask.data);
            EXPECT_EQ(form.whole.size(), mask.size());
            EXPECT_TRUE(form.info.isEmpty());
            EXPECT_TRUE(form.packedBytes.isEmpty());
        }
    }
}

TEST(MaskForApp, CutIsTheScopeIntersectedWithTheMask)
{
    struct Case {
        cv::Rect scope;
        cv::Rect cut;  // empty: nothing to cut
    };
    const Case cases[] = {
        {cv::Rect(4, 2, 6, 5), cv::Rect(4, 2, 6, 5)},
        {cv::Rect(0, 0, 16, 10), cv::Rect(0, 0, 16, 10)},
        {cv::Rect(12, 6, 100, 100), cv::Rect(12, 6, 4, 4)},  // reaches past the mask
        {cv::Rect(-3, -2, 6, 5), cv::Rect(0, 0, 3, 3)},      // starts before it
        {cv::Rect(40, 40, 5, 5), cv::Rect()},                // wholly outside
        {cv::Rect(), cv::Rect()},
    };
    const cv::Mat mask = sampleMask();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scope);
        const MaskForApp form = MaskForApp::build(mask, c.scope, QStringLiteral("V1.6.7.94"));
        ASSERT_TRUE(form.packed);
        const QByteArray expected = c.cut.area() > 0 ? MatMask01Compress2Bytes(mask(c.cut)) : QByteArray();
        EXPECT_EQ(form.packedBytes, expected);
        EXPECT_EQ(form.info.value("datakey").toString(), QStringLiteral("maskmat"));
        EXPECT_EQ(form.info.value("data_type").toString(), QStringLiteral("8in1_scope"));
        EXPECT_EQ(form.info.value("channels").toInt(), 1);
        EXPECT_EQ(form.info.value("size_width").toInt(), 16);
        EXPECT_EQ(form.info.value("size_height").toInt(), 10);
        EXPECT_EQ(form.info.value("maskscope_x").toInt(), c.cut.x);
        EXPECT_EQ(form.info.value("maskscope_y").toInt(), c.cut.y);
        EXPECT_EQ(form.info.value("maskscope_width").toInt(), c.cut.width);
        EXPECT_EQ(form.info.value("maskscope_height").toInt(), c.cut.height);
    }
}

TEST(MaskForApp, EmptyMaskGivesAnEmptyPackedForm)
{
    const MaskForApp form = MaskForApp::build(cv::Mat(), cv::Rect(0, 0, 10, 10), QStringLiteral("V1.6.7.94"));
    EXPECT_TRUE(form.packed);
    EXPECT_TRUE(form.packedBytes.isEmpty());
    EXPECT_EQ(form.info.value("maskscope_width").toInt(-1), 0);
}

TEST(MaskForApp, TakenApplicationsRegisteredVersion)
{
    ZRC_WorkInfos work;
    EXPECT_EQ(MaskForApp::takenAppVersion(work), QString());  // nobody has taken the camera
    work.registered_apps["10.1.0.3"].version = QStringLiteral("V1.6.7.90");
    work.registered_apps["10.1.0.4"].version = QStringLiteral("V1.7.0.0");
    work.taken_app_ip = "10.1.0.4";
    EXPECT_EQ(MaskForApp::takenAppVersion(work), QStringLiteral("V1.7.0.0"));
    work.taken_app_ip = "10.1.0.9";  // taken, not registered
    EXPECT_EQ(MaskForApp::takenAppVersion(work), QString());
}

}  // namespace
