// The alarm-image writer: file names and the running counter, the directory
// limits, what it draws (JPEGs decoded with OpenCV at known pixels), which
// thread saves and pushes, and the items and pictures it refuses.
#include "hub/hubhooks.h"
#include "hub/saveimage.h"
#include "hub/wizardpara.h"
#include "inspection/customrect.h"
#include "inspection/hubservices.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>
#include <QThread>

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <thread>

namespace {

class PushSpy : public PicturePush {
public:
    PushSpy() { PicturePush::setInstance(this); }
    ~PushSpy() override { PicturePush::setInstance(nullptr); }
    void PushMsg2Subscriber_PictureResult(int detect, bool ok, const QString& path, const QString& businessId) override
    {
        QMutexLocker lock(&mutex);
        pushes << QStringLiteral("%1 %2 %3 %4").arg(detect).arg(ok).arg(QFileInfo(path).fileName(), businessId);
        threads << QThread::currentThread();
    }
    QStringList taken()
    {
        QMutexLocker lock(&mutex);
        return pushes;
    }
    QMutex mutex;
    QStringList pushes;
    QVector<QThread*> threads;
};

struct Limits {
    Limits(int ng, int ok)
    {
        gPicNumNG.store(ng);
        gPicNumOK.store(ok);
    }
    ~Limits()
    {
        gPicNumNG.store(0);
        gPicNumOK.store(0);
    }
};

SaveImg_CacheInfo item(int detect, int slot, int ok, const QString& id = "cycle-1", const QString& text = "")
{
    SaveImg_CacheInfo info;
    info.business_id = id;
    info.detect = detect;
    info.slot = slot;
    info.ok = ok;
    info.text = text;
    return info;
}

// Waits until the writer has taken `n` counter values beyond `from`.
bool waitForCounter(const SaveFailImageThread& writer, int target)
{
    QElapsedTimer t;
    t.start();
    while (!(writer.counter() >= target && writer.idle()) && t.elapsed() < 30000)
        QThread::msleep(5);
    return writer.counter() == target && writer.idle();
}

QStringList jpgs(const QString& dir)
{
    return QDir(dir).entryList({"*.jpg"}, QDir::Files, QDir::Name);
}

cv::Vec3b pixel(const QString& file, int x, int y)
{
    const cv::Mat img = cv::imread(file.toStdString(), cv::IMREAD_COLOR);
    if (img.empty())
        return cv::Vec3b(0, 0, 0);
    return img.at<cv::Vec3b>(y, x);  // B, G, R
}

bool near(const cv::Vec3b& bgr, int r, int g, int b, int tol = 10)
{
    return std::abs(bgr[2] - r) <= tol && std::abs(bgr[1] - g) <= tol && std::abs(bgr[0] - b) <= tol;
}

std::unique_ptr<CustomRect> rect(int index, int x, int y, bool ok)
{
    auto r = std::make_unique<CustomRect>();
    r->initFromJson(QJsonObject{{"detect_index", 0}, {"roi_index", index}, {"roi_type", "rect"},
                                {"roi_infos", QJsonArray{x, y, 100, 80}}, {"func_type", "spot"},
                                {"func_params", QJsonArray{100, 400, 5, 60}}});
    r->setResult(ok);
    r->setResultDescription("region description long text");
    r->setArea(7);
    return r;
}

}  // namespace

TEST(SaveImageTest, NamesCarryTheCounterAndTheStepAndVerdictFolder)
{
    struct Case { int counter; int detect; int ok; QString folder; QString prefix; };
    const Case cases[] = {
        {42, 0, 0, "detect1/NG", "000000042_"},
        {1234567890, 3, 1, "detect4/OK", "1234567890_"},
    };
    Limits limits(5, 5);
    for (const Case& c : cases) {
        testsupport::ScratchDir root;
        PushSpy push;
        SaveFailImageThread writer(root.path());
        writer.setCounter(c.counter);
        writer.start();
        writer.addCacheInfo(item(c.detect, 0, c.ok, "biz"));
        ASSERT_TRUE(waitForCounter(writer, c.counter + 1));
        const QStringList files = jpgs(root.file(c.folder));
        ASSERT_EQ(files.size(), 1) << c.folder.toStdString();
        EXPECT_TRUE(QRegularExpression("^" + c.prefix + R"(\d{4}-\d\d-\d\d_\d\d\.\d\d\.\d\d\.jpg$)").match(files[0]).hasMatch())
            << files[0].toStdString();
        EXPECT_EQ(push.taken(), QStringList{QStringLiteral("%1 %2 %3 biz").arg(c.detect).arg(c.ok).arg(files[0])});
    }
}

TEST(SaveImageTest, DirectoriesStayBelowTheirLimitAndAZeroLimitWritesNothing)
{
    struct Case { const char* name; int limit; int present; QStringList expected; bool pushed; };
    const Case cases[] = {
        {"limit 3 with three files", 3, 3, {"000000002_old.jpg", "000000003_old.jpg", "new"}, true},
        {"limit 1", 1, 2, {"new"}, true},
        {"limit 0", 0, 2, {"000000001_old.jpg", "000000002_old.jpg"}, false},
        {"negative limit", -4, 2, {"000000001_old.jpg", "000000002_old.jpg"}, false},
    };
    for (const Case& c : cases) {
        Limits limits(c.limit, c.limit);
        testsupport::ScratchDir root;
        for (int i = 1; i <= c.present; ++i)
            root.write(QStringLiteral("detect2/NG/%1_old.jpg").arg(i, 9, 10, QLatin1Char('0')), "x");
        PushSpy push;
        SaveFailImageThread writer(root.path());
        writer.setCounter(500);
        writer.start();
        writer.addCacheInfo(item(1, 0, 0));
        ASSERT_TRUE(waitForCounter(writer, 501)) << c.name << ": the counter advances even without a file";
        QStringList files = jpgs(root.file("detect2/NG"));
        for (QString& f : files) {
            if (f.startsWith("000000500_"))
                f = "new";
        }
        EXPECT_EQ(files, c.expected) << c.name;
        EXPECT_EQ(!push.taken().isEmpty(), c.pushed) << c.name;
    }
}

TEST(SaveImageTest, ItemsOutOfRangeAreDroppedWithoutTakingANumber)
{
    Limits limits(5, 5);
    testsupport::ScratchDir root;
    testsupport::LogCapture log;
    SaveFailImageThread writer(root.path());
    writer.setCounter(7);
    writer.start();
    for (const SaveImg_CacheInfo& bad : {item(0, 2, 0), item(0, -1, 0), item(-1, 0, 0), item(4, 0, 0), item(0, 0, 2),
                                         item(0, 0, -1)})
        writer.addCacheInfo(bad);
    writer.addCacheInfo(item(0, 0, 0));
    ASSERT_TRUE(waitForCounter(writer, 8));
    EXPECT_EQ(jpgs(root.file("detect1/NG")).size(), 1);
    EXPECT_TRUE(log.anyContains("alarm image dropped"));
}

TEST(SaveImageTest, DrawsTheFrameWithTheMaskInRedAndTheVerdict)
{
    struct Case { const char* name; cv::Mat image; int r, g, b; };
    cv::Mat grey(gImageH, gImageW, CV_8UC1, cv::Scalar(100));
    cv::Mat rgba(gImageH, gImageW, CV_8UC4, cv::Scalar(200, 30, 60, 0));  // R, G, B, A
    const Case cases[] = {{"grey", grey, 100, 100, 100}, {"colour", rgba, 200, 30, 60}};
    Limits limits(5, 5);
    for (const Case& c : cases) {
        testsupport::ScratchDir root;
        SaveFailImageThread writer(root.path());
        cv::Mat mask(gImageH, gImageW, CV_8UC1, cv::Scalar(255));
        mask(cv::Rect(gImageW / 2, 0, gImageW / 2, gImageH)).setTo(0);  // right half not counted
        writer.save2FailImage(c.image, 0, 2, true);
        writer.save2MaskCache(mask, 0, 2, true);
        writer.start();
        writer.addCacheInfo(item(2, 1, 1));
        ASSERT_TRUE(waitForCounter(writer, 101));
        const QStringList files = jpgs(root.file("detect3/OK"));
        ASSERT_EQ(files.size(), 1) << c.name;
        const QString file = root.file("detect3/OK/" + files[0]);
        auto over = [](int v, bool red) { return red ? (150 * 255 + 105 * v) / 255 : 105 * v / 255; };
        EXPECT_TRUE(near(pixel(file, 400, 600), c.r, c.g, c.b)) << c.name << " counted part unchanged";
        EXPECT_TRUE(near(pixel(file, 1500, 600), over(c.r, true), over(c.g, false), over(c.b, false)))
            << c.name << " masked part in red";
        // "OK" in green near its anchor point.
        const cv::Mat img = cv::imread(file.toStdString(), cv::IMREAD_COLOR);
        int green = 0;
        for (int y = 55; y < 82; ++y)
            for (int x = 5; x < 45; ++x) {
                const cv::Vec3b p = img.at<cv::Vec3b>(y, x);
                green += (p[1] > 180 && p[2] < 120) ? 1 : 0;
            }
        EXPECT_GT(green, 20) << c.name;
    }
}

TEST(SaveImageTest, RegionsAreOutlinedAndElevenOrMoreGetCompactLabels)
{
    Limits limits(5, 5);
    testsupport::ScratchDir root;
    SaveFailImageThread writer(root.path());
    writer.save2FailImage(cv::Mat(gImageH, gImageW, CV_8UC1, cv::Scalar(0)), 0, 0, false);
    auto labelArea = [&](int count) {
        std::vector<std::unique_ptr<CustomRect>> owned;
        QVector<RoiInterface*> rois;
        for (int i = 0; i < count; ++i) {
            owned.push_back(rect(i, 300 + 110 * (i % 10), 400 + 200 * (i / 10), i != 0));
            rois << owned.back().get();
        }
        rois << nullptr;
        writer.save2Roi(rois, 0, 0);
        owned.clear();  // the writer holds its own copies
        const QImage drawn = writer.drawImage(item(0, 0, 0));
        EXPECT_EQ(drawn.pixel(300, 420), qRgb(255, 0, 0)) << "region 1 is NG: red outline";
        EXPECT_EQ(drawn.pixel(410, 420), qRgb(0, 255, 0)) << "region 2 is OK: green outline";
        return drawn.copy(300, 374, 100, 25);
    };
    const QImage full = labelArea(10);
    const QImage compact = labelArea(11);
    EXPECT_NE(full, compact);
    EXPECT_EQ(labelArea(10), full);
}

TEST(SaveImageTest, RefusesPicturesThatAreNotFrames)
{
    testsupport::ScratchDir root;
    testsupport::LogCapture log;
    SaveFailImageThread writer(root.path());
    writer.save2FailImage(cv::Mat(gImageH, gImageW, CV_8UC3, cv::Scalar(50, 50, 50)), 0, 0, false);
    writer.save2FailImage(cv::Mat(10, 10, CV_8UC4, cv::Scalar(50, 50, 50, 0)), 0, 0, false);
    writer.save2MaskCache(cv::Mat(gImageH, gImageW, CV_8UC4), 0, 0, false);
    writer.save2FailImage(cv::Mat(gImageH, gImageW, CV_8UC1, cv::Scalar(50)), 1, 0, false);   // camera 1
    writer.save2FailImage(cv::Mat(gImageH, gImageW, CV_8UC1, cv::Scalar(50)), 0, -1, false);  // detect -1
    EXPECT_TRUE(log.anyContains("refused"));
    EXPECT_EQ(writer.drawImage(item(0, 0, 0)).pixel(1000, 700), qRgb(0, 0, 0));
    EXPECT_TRUE(writer.drawImage(item(0, 5, 0)).isNull());
}

TEST(SaveImageTest, HandOverCopiesAndTheWriterSavesAndPushesOnItsOwnThread)
{
    Limits limits(50, 50);
    testsupport::ScratchDir root;
    PushSpy push;
    SaveFailImageThread writer(root.path());
    writer.start();
    cv::Mat frame(gImageH, gImageW, CV_8UC1, cv::Scalar(30));
    std::thread detection([&] {
        for (int i = 0; i < 20; ++i) {
            writer.save2FailImage(frame, 0, 0, false);
            writer.addCacheInfo(item(0, 0, 0));
        }
    });
    detection.join();
    frame.setTo(250);  // the writer drew its own copy
    ASSERT_TRUE(waitForCounter(writer, 120));
    const QStringList files = jpgs(root.file("detect1/NG"));
    ASSERT_EQ(files.size(), 20);
    EXPECT_TRUE(near(pixel(root.file("detect1/NG/" + files.last()), 1000, 700), 30, 30, 30));
    QMutexLocker lock(&push.mutex);
    for (QThread* t : push.threads)
        EXPECT_EQ(t, &writer);
}

TEST(SaveImageTest, AFailedSaveIsReportedAndNotPushed)
{
    Limits limits(5, 5);
    testsupport::ScratchDir root;
    PushSpy push;
    testsupport::LogCapture log;
    SaveFailImageThread writer(root.path());
    SaveImg_CacheInfo info = item(0, 0, 0);
    EXPECT_FALSE(writer.saveFile(root.file("no/such/folder/x.jpg"), info));
    EXPECT_TRUE(log.anyContains("could not be written"));
    EXPECT_TRUE(writer.saveFile(root.file("detect1/NG/000000001_x.jpg"), info));
}

TEST(SaveImageTest, ASimplifiedChineseFontIsInstalled)
{
    EXPECT_FALSE(QFontDatabase().families(QFontDatabase::SimplifiedChinese).isEmpty());
}
