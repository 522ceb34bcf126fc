// The hub's pictures: which alarm images each event of a cycle hands to the
// writer, the picture lists, the NG images in memory (also from a worker
// thread) and the picture paths, which never lead out of their folder.
#include "hub/hubrig.h"

#include "hub/hubhooks.h"
#include "hub/saveimage.h"
#include "inspection/cameraimage.h"
#include "support/logcapture.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>

#include <thread>

using hubtest::HubRig;
using hubtest::waitFor;

namespace {

// The pictures the writer saved, in order: "<detect>:<ok>:<business id>:<file>".
class PushRecorder : public PicturePush {
public:
    PushRecorder() { PicturePush::setInstance(this); }
    ~PushRecorder() override { PicturePush::setInstance(nullptr); }
    void PushMsg2Subscriber_PictureResult(int detect, bool ok, const QString& path, const QString& businessId) override
    {
        QMutexLocker lock(&mutex);
        pushed << QStringLiteral("%1:%2:%3:%4").arg(detect).arg(ok).arg(businessId, QFileInfo(path).dir().dirName());
    }
    QStringList all()
    {
        QMutexLocker lock(&mutex);
        return pushed;
    }
    QMutex mutex;
    QStringList pushed;
};

QStringList queuedLines(const testsupport::LogCapture& log)
{
    QStringList out;
    for (const QString& m : log.messages())
        if (m.startsWith("[HUB] alarm image queued:"))
            out << m.mid(26);
    return out;
}

}  // namespace

TEST(HubPicturesTest, AnNGHeldThenClearedByRedetectionSavesTheNGThenTheOKPictureWithItsId)
{
    HubRig rig;
    PushRecorder push;
    gPicNumNG.store(10);
    gPicNumOK.store(10);
    rig.detect(rig.defective());
    testsupport::LogCapture log;
    rig.hub->SaveImageFile(1, 4, "early");  // no NG held yet
    rig.hub->SaveImageFile(1, 3, "ng-1");
    rig.hub->SaveImageFile(1, 3, "ng-2");   // the second NG replaces the first
    rig.hub->SaveImageFile(1, 6, "other");  // keeps the NG held
    rig.hub->SaveImageFile(1, 7, "redetect");
    rig.hub->SaveImageFile(1, 7, "again");  // nothing held any more
    EXPECT_EQ(queuedLines(log),
              (QStringList{"detection 1 slot 0 business id ng-2 text 警报解除方法：重新检测(报警NG图片)",
                           "detection 1 slot 1 business id ng-2 text 警报解除方法：重新检测(重检OK图片)"}));
    ASSERT_TRUE(waitFor([&] { return push.all().size() == 2; }));
    EXPECT_EQ(push.all(), (QStringList{"1:0:ng-2:NG", "1:1:ng-2:OK"}));
}

TEST(HubPicturesTest, EachWayAnNGEndsHasItsText)
{
    struct Case { int kind; QString line; };
    const Case cases[] = {
        {4, "detection 0 slot 0 business id id-3 text 警报解除方法：不检测此模"},
        {5, "detection 0 slot 0 business id id-3 text 警报解除方法：添加为模板"},
        {8, "detection 0 slot 0 business id id-3 text 检测结果NG（NG不停机）"},
        {2, "detection 0 slot 1 business id id-2 text "},
    };
    HubRig rig;
    rig.detect(rig.part);
    for (const Case& c : cases) {
        rig.hub->SaveImageFile(0, 3, "id-3");
        testsupport::LogCapture log;
        rig.hub->SaveImageFile(0, c.kind, "id-2");
        EXPECT_EQ(queuedLines(log), QStringList{c.line}) << c.kind;
    }
    testsupport::LogCapture log;
    for (int detect : {-1, 4})
        rig.hub->SaveImageFile(detect, 3, "x");
    EXPECT_TRUE(queuedLines(log).isEmpty());
    EXPECT_TRUE(log.reachesLogFiles("SaveImageFile: detection 4 does not exist"));
}

TEST(HubPicturesTest, ListsAreNewestFirstWithinTheirLimitsAndAlwaysComplete)
{
    HubRig rig;
    const QDateTime base = QDateTime::currentDateTime().addDays(-1);
    for (int i = 0; i < 30; ++i) {
        const QString f = rig.wd.dir().write(QStringLiteral("root/userdata/alarmimage/detect2/NG/%1_x.jpg").arg(i, 9, 10, QChar('0')), "j");
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        // Older names get newer times: the order is by time, not by name.
        file.setFileTime(base.addSecs(-i * 60), QFileDevice::FileModificationTime);
    }
    rig.wd.dir().write("root/userdata/alarmimage/detect2/NG/notes.txt", "t");
    gPicNumNG.store(20);
    const QJsonObject ng = rig.hub->getPicFileList("ngresult", 1);
    const QJsonArray names = ng.value("file_name").toArray();
    ASSERT_EQ(names.size(), 20);
    EXPECT_EQ(names.first().toString(), "000000000_x.jpg");
    EXPECT_EQ(names.last().toString(), "000000019_x.jpg");
    EXPECT_EQ(ng.value("file_mtime").toArray().first().toString(), base.toString("yyyy-MM-dd hh:mm:ss"));

    const QJsonObject ok = rig.hub->getPicFileList("okresult", 1);
    EXPECT_TRUE(ok.value("file_name").isArray() && ok.value("file_name").toArray().isEmpty());
    EXPECT_TRUE(ok.value("file_mtime").isArray() && ok.value("file_mtime").toArray().isEmpty());
    const QJsonObject temp = rig.hub->getPicFileList("temp", 1);
    EXPECT_EQ(temp.value("file_name").toArray(), QJsonArray{"template00.bmp"});
    for (const auto& bad : {std::make_pair(QString("ngresult"), -1), std::make_pair(QString("ngresult"), 4),
                            std::make_pair(QString("other"), 1)})
        EXPECT_TRUE(rig.hub->getPicFileList(bad.first, bad.second).isEmpty()) << bad.first.toStdString() << bad.second;

    gDNum = 5;
    const QJsonObject all = rig.hub->getPicFileList();
    for (const char* key : {"tmpimg_group", "tmptime_group", "okresimg_group", "ngresimg_group"}) {
        ASSERT_EQ(all.value(key).toArray().size(), 5) << key;
        EXPECT_EQ(all.value(key).toArray().at(4).toString(), "") << key;
    }
    EXPECT_EQ(all.value("ngresimg_group").toArray().at(1).toString().split(';').size(), 20);
    EXPECT_EQ(all.value("tmpimg_group").toArray().at(1).toString(), "template00.bmp");
}

TEST(HubPicturesTest, NGImagesAreAddressedModuloTheStepsAndNeverChangeUnderAReader)
{
    HubRig rig;
    for (int grey : {40, 80}) {
        rig.detect(cv::Mat(1080, 1920, CV_8UC1, cv::Scalar(grey)));
        rig.hub->Update_MemNGLook(1);
    }
    const cv::Mat second = rig.hub->getNGPic(5, 4);
    ASSERT_EQ(second.rows, 1080);
    EXPECT_EQ(cv::countNonZero(second != 80), 0) << "step 1, image 1";
    EXPECT_TRUE(rig.hub->getNGPic(1, 2).empty()) << "only two held";
    EXPECT_TRUE(rig.hub->getNGPic(-1, 0).empty());

    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const cv::Mat img = rig.hub->getNGPic(1, 0);
            double lo = 0, hi = 0;
            if (!img.empty())
                cv::minMaxLoc(img, &lo, &hi);
            mixed += lo != hi ? 1 : 0;
        }
    });
    for (int i = 0; i < 40; ++i) {
        rig.detect(cv::Mat(1080, 1920, CV_8UC1, cv::Scalar(i % 2 ? 20 : 200)));
        rig.hub->Update_MemNGLook(1);
    }
    stop.store(true);
    reader.join();
    EXPECT_EQ(mixed.load(), 0);
}

TEST(HubPicturesTest, APicturePathNeverLeadsOutOfItsFolder)
{
    HubRig rig;
    CameraImage* image = rig.hub->camera()->cameraImage();
    image->updateCurTemplateName("template00.bmp");
    const QString ngDir = rig.root("/userdata/alarmimage/detect1/NG");
    ASSERT_TRUE(QFile::link("/etc/passwd", ngDir + "/out.jpg"));
    rig.wd.dir().write("root/userdata/alarmimage/detect1/NG/in.jpg", "j");
    EXPECT_EQ(rig.hub->getPicDir("in.jpg", 0, "result_ng"), ngDir + "/in.jpg");
    EXPECT_EQ(rig.hub->getPicDir("new.jpg", 0, "result_ok"), rig.root("/userdata/alarmimage/detect1/OK") + "/new.jpg");

    struct Case { QString name; int detect; QString kind; };
    const Case refused[] = {
        {"", 0, "template"},          {".", 0, "template"},       {"..", 0, "result_ng"},
        {"../../PARAM.db", 0, "template"}, {"/etc/shadow", 0, "result_ng"}, {"a\\b", 0, "template"},
        {QString::fromUtf8("a\0b", 3), 0, "template"}, {"out.jpg", 0, "result_ng"},
        {"in.jpg", 4, "result_ng"},   {"in.jpg", -1, "result_ng"}, {"in.jpg", 0, "Result_ng"},
    };
    for (const Case& c : refused) {
        testsupport::LogCapture log;
        EXPECT_EQ(rig.hub->getPicDir(c.name, c.detect, c.kind), "") << c.name.toStdString() << c.detect;
        EXPECT_EQ(image->curTemplateName(), "template00.bmp") << c.name.toStdString();
    }
    testsupport::LogCapture log;
    rig.hub->getPicDir("../../PARAM.db", 0, "template");
    EXPECT_TRUE(log.reachesLogFiles("picture name refused"));

    EXPECT_EQ(rig.hub->getPicDir("template01.bmp", 1, "template"), "./cammer12/template01.bmp");
    EXPECT_EQ(image->curTemplateName(), "template01.bmp");

    std::thread worker([&] { EXPECT_EQ(rig.hub->getPicDir("template02.bmp", 0, "template"), "./cammer11/template02.bmp"); });
    worker.join();
    EXPECT_EQ(image->curTemplateName(), "template01.bmp") << "the change is queued to the hub's thread";
    EXPECT_TRUE(waitFor([&] { return image->curTemplateName() == "template02.bmp"; }));
}
