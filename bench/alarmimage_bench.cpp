// The alarm-image writer beside plain library work, in the same run:
//
// hand-over   the three calls a detection makes (picture, mask, 8 regions)
//             on a 1920 x 1080 frame, grey and colour, with the writer idle
//             and while it encodes without pause; reference: a plain copyTo
//             of the same picture and mask into kept buffers.
// writer      one queued item drawn (verdict, mask overlay, 8 outlines, text),
//             trimmed and saved as JPEG; references: QImage::save of a
//             finished canvas to a file, and cv::imencode of the frame.
//
// Prints median and p99 per case and the ratios ours / reference.
#include "hub/saveimage.h"
#include "hub/wizardpara.h"
#include "inspection/customrect.h"
#include "inspection/pluginsmanager.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Stats {
    double median = 0;
    double p99 = 0;
};

Stats measure(int runs, const std::function<void()>& work)
{
    std::vector<double> ms;
    ms.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

cv::Mat frame(int type)
{
    cv::Mat m(1080, 1920, type);
    cv::randu(m, 0, 255);
    return m;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (PluginsManager::instance == nullptr)
        PluginsManager::instance = new PluginsManager;
    PluginsManager::instance->loadPlugins();
    QTemporaryDir dir;
    gPicNumNG.store(20);
    gPicNumOK.store(20);

    std::vector<std::unique_ptr<CustomRect>> owned;
    QVector<RoiInterface*> rois;
    for (int i = 0; i < 8; ++i) {
        owned.push_back(std::make_unique<CustomRect>());
        owned.back()->initFromJson(QJsonObject{{"detect_index", 0}, {"roi_index", i}, {"roi_type", "rect"},
                                               {"roi_infos", QJsonArray{100 + 200 * i, 300, 160, 120}},
                                               {"func_type", "spot"}, {"func_params", QJsonArray{100, 400, 5, 60}}});
        owned.back()->setResult(i % 2 == 0);
        rois << owned.back().get();
    }
    cv::Mat mask(1080, 1920, CV_8UC1, cv::Scalar(255));
    mask(cv::Rect(0, 0, 400, 300)).setTo(0);

    SaveFailImageThread writer(dir.path());
    writer.start();

    std::printf("%-34s %10s %10s\n", "hand-over (ms)", "median", "p99");
    for (int type : {CV_8UC1, CV_8UC4}) {
        const char* mode = type == CV_8UC1 ? "grey" : "colour";
        const cv::Mat picture = frame(type);
        cv::Mat keptPicture(picture.size(), picture.type());
        cv::Mat keptMask(mask.size(), mask.type());
        auto ours = [&] {
            writer.save2FailImage(picture, 0, 0, false);
            writer.save2MaskCache(mask, 0, 0, false);
            writer.save2Roi(rois, 0, 0);
        };
        auto reference = [&] {
            picture.copyTo(keptPicture);
            mask.copyTo(keptMask);
        };
        const Stats ref = measure(300, reference);
        const Stats idle = measure(300, ours);
        std::atomic<bool> feeding{true};
        std::thread busy([&] {
            SaveImg_CacheInfo info;
            while (feeding.load()) {
                if (writer.idle())
                    writer.addCacheInfo(info);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const Stats loaded = measure(300, ours);
        feeding.store(false);
        busy.join();
        while (!writer.idle())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::printf("%-6s reference copyTo               %10.3f %10.3f\n", mode, ref.median, ref.p99);
        std::printf("%-6s ours, writer idle              %10.3f %10.3f\n", mode, idle.median, idle.p99);
        std::printf("%-6s ours, writer encoding          %10.3f %10.3f\n", mode, loaded.median, loaded.p99);
        std::printf("%-6s ratio idle/reference median %.2f, busy p99 / idle p99 %.2f\n", mode,
                    idle.median / ref.median, loaded.p99 / idle.p99);
    }

    // The writer's own work on one item, on this thread.
    writer.save2FailImage(frame(CV_8UC1), 0, 1, false);
    writer.save2MaskCache(mask, 0, 1, false);
    writer.save2Roi(rois, 0, 1);
    SaveImg_CacheInfo info;
    info.detect = 1;
    info.text = QStringLiteral("报警 NG");
    int n = 0;
    const Stats ours = measure(30, [&] {
        writer.saveFile(QStringLiteral("%1/detect2/NG/%2_x.jpg").arg(dir.path()).arg(n++, 9, 10, QLatin1Char('0')), info);
    });
    const QImage canvas = writer.drawImage(info);
    n = 0;
    const Stats qtSave = measure(30, [&] { canvas.save(QStringLiteral("%1/qt%2.jpg").arg(dir.path()).arg(n++ % 5)); });
    const cv::Mat bgr = [&] {
        cv::Mat m;
        cv::cvtColor(frame(CV_8UC1), m, cv::COLOR_GRAY2BGR);
        return m;
    }();
    std::vector<uchar> bytes;
    const Stats cvEncode = measure(30, [&] { cv::imencode(".jpg", bgr, bytes); });
    std::printf("\n%-34s %10s %10s %10s\n", "writer, one item (ms)", "median", "p99", "items/s");
    std::printf("%-34s %10.2f %10.2f %10.1f\n", "ours: draw, trim, save", ours.median, ours.p99, 1000.0 / ours.median);
    std::printf("%-34s %10.2f %10.2f %10.1f\n", "QImage::save", qtSave.median, qtSave.p99, 1000.0 / qtSave.median);
    std::printf("%-34s %10.2f %10.2f %10.1f\n", "cv::imencode", cvEncode.median, cvEncode.p99,
                1000.0 / cvEncode.median);
    std::printf("ratio ours/QImage::save %.2f, ours/cv::imencode %.2f\n", ours.median / qtSave.median,
                ours.median / cvEncode.median);
    writer.stop();
    return 0;
}
