#include "hub/saveimage.h"

#include "foundation/logmanager.h"
#include "foundation/foundationglobals.h"
#include "hub/hubhooks.h"
#include "hub/wizardpara.h"
#include "inspection/customcircle.h"
#include "inspection/custompolygon.h"
#include "inspection/customrect.h"
#include "inspection/hubservices.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QSaveFile>

#include <opencv2/imgproc.hpp>

namespace {

// Red at alpha 150 over an opaque pixel, as Qt's source-over draws it.
inline QRgb redOver(QRgb p)
{
    constexpr int a = 150;
    const int r = (a * 255 + (255 - a) * qRed(p) + 127) / 255;
    const int g = ((255 - a) * qGreen(p) + 127) / 255;
    const int b = ((255 - a) * qBlue(p) + 127) / 255;
    return qRgb(r, g, b);
}

// Paints red where the mask is dark. "Dark" is what Qt's default one-bit
// conversion of the grey mask makes black; for a mask of only 0 and 255
// that is exactly the 0 pixels, which is taken without the conversion.
void overlayMask(QImage& canvas, const cv::Mat& mask)
{
    if (mask.empty() || mask.rows != canvas.height() || mask.cols != canvas.width())
        return;
    bool binary = true;
    for (int y = 0; y < mask.rows && binary; ++y) {
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < mask.cols; ++x) {
            if (m[x] != 0 && m[x] != 255) {
                binary = false;
                break;
            }
        }
    }
    if (binary) {
        for (int y = 0; y < mask.rows; ++y) {
            const uchar* m = mask.ptr<uchar>(y);
            QRgb* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
            for (int x = 0; x < mask.cols; ++x) {
                if (m[x] == 0)
                    line[x] = redOver(line[x]);
            }
        }
        return;
    }
    const QImage grey(mask.data, mask.cols, mask.rows, int(mask.step), QImage::Format_Grayscale8);
    const QImage mono = grey.convertToFormat(QImage::Format_MonoLSB);
    const bool zeroIsDark = qGray(mono.color(0)) < qGray(mono.color(1));
    for (int y = 0; y < mono.height(); ++y) {
        const uchar* bits = mono.constScanLine(y);
        QRgb* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        for (int x = 0; x < mono.width(); ++x) {
            const bool one = (bits[x >> 3] >> (x & 7)) & 1;
            if (one != zeroIsDark)
                line[x] = redOver(line[x]);
        }
    }
}

}  // namespace

SaveFailImageThread::SaveFailImageThread(const QString& alarmRoot, QObject* parent)
    : QThread(parent), m_root(QDir(alarmRoot).absolutePath())
{
    for (int d = 0; d < kSteps; ++d) {
        QDir().mkpath(directory(d, false));
        QDir().mkpath(directory(d, true));
    }
}

SaveFailImageThread::~SaveFailImageThread()
{
    stop();
}

QString SaveFailImageThread::directory(int detect, bool ok) const
{
    return QStringLiteral("%1/detect%2/%3").arg(m_root).arg(detect + 1).arg(ok ? "OK" : "NG");
}

bool SaveFailImageThread::validPlace(int camera, int detect)
{
    return camera == 0 && detect >= 0 && detect < kSteps;
}

void SaveFailImageThread::handOver(const cv::Mat& src, Cache& place, int type1, int type2, const char* what)
{
    if (src.rows != gImageH || src.cols != gImageW || (src.type() != type1 && src.type() != type2)) {
        qCWarning(level_1).noquote() << QStringLiteral("alarm %1 of %2x%3 type %4 refused: not a frame of %5x%6")
                                    .arg(QLatin1String(what))
                                    .arg(src.cols)
                                    .arg(src.rows)
                                    .arg(src.type())
                                    .arg(gImageW)
                                    .arg(gImageH);
        return;
    }
    cv::Mat buffer;
    {
        QMutexLocker lock(&m_mutex);
        buffer = place.spare;
        place.spare = cv::Mat();
    }
    // A buffer that the writer still draws from is left to it.
    if (buffer.empty() || buffer.size() != src.size() || buffer.type() != src.type()
        || (buffer.u && buffer.u->refcount > 1))
        buffer = cv::Mat(src.rows, src.cols, src.type());
    src.copyTo(buffer);
    QMutexLocker lock(&m_mutex);
    std::swap(place.current, buffer);
    place.spare = buffer;
}

void SaveFailImageThread::save2FailImage(cv::Mat image, int camera, int detect, bool slot)
{
    if (!validPlace(camera, detect))
        return;
    handOver(image, m_image[detect][slot ? 1 : 0], CV_8UC4, CV_8UC1, "image");
}

void SaveFailImageThread::save2MaskCache(cv::Mat mask, int camera, int detect, bool slot)
{
    if (!validPlace(camera, detect))
        return;
    handOver(mask, m_mask[detect][slot ? 1 : 0], CV_8UC1, CV_8UC1, "mask");
}

void SaveFailImageThread::save2Roi(QVector<RoiInterface*> rois, int camera, int detect)
{
    if (!validPlace(camera, detect))
        return;
    QVector<std::shared_ptr<const RoiInterface>> copies;
    copies.reserve(rois.size());
    for (RoiInterface* roi : rois) {
        if (!roi)
            continue;
        if (dynamic_cast<CustomRect*>(roi) || dynamic_cast<CustomCircle*>(roi) || dynamic_cast<CustomPolygon*>(roi))
            copies.append(std::shared_ptr<const RoiInterface>(roi->snapshotCopy()));
    }
    QMutexLocker lock(&m_mutex);
    m_rois[detect].swap(copies);
}

void SaveFailImageThread::addCacheInfo(const SaveImg_CacheInfo& info)
{
    QMutexLocker lock(&m_mutex);
    ++m_pending;
    m_queue.append(info);
    m_wake.wakeOne();
}

void SaveFailImageThread::stop()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_wake.wakeAll();
    }
    wait();
}

void SaveFailImageThread::run()
{
    for (;;) {
        QVector<SaveImg_CacheInfo> items;
        {
            QMutexLocker lock(&m_mutex);
            while (m_queue.isEmpty() && !m_stop)
                m_wake.wait(&m_mutex);
            if (m_queue.isEmpty())
                return;
            items.swap(m_queue);
        }
        for (const SaveImg_CacheInfo& info : items) {
            handle(info);
            --m_pending;
        }
    }
}

void SaveFailImageThread::handle(const SaveImg_CacheInfo& info)
{
    if (info.detect < 0 || info.detect >= kSteps || info.slot < 0 || info.slot >= kSlots || info.ok < 0
        || info.ok > 1) {
        qCWarning(level_1) << "alarm image dropped: detect" << info.detect << "slot" << info.slot << "ok" << info.ok
                   << "out of range";
        return;
    }
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
    const int number = m_counter.fetch_add(1);
    const QString name = QStringLiteral("%1_%2").arg(number, 9, 10, QLatin1Char('0')).arg(time);
    const QString path = QStringLiteral("%1/%2.jpg").arg(directory(info.detect, info.ok != 0), name);
    if (!saveFile(path, info))
        return;
    if (PicturePush* push = PicturePush::instance())
        push->PushMsg2Subscriber_PictureResult(info.detect, info.ok != 0, path, info.business_id);
}

QImage SaveFailImageThread::drawImage(const SaveImg_CacheInfo& info) const
{
    if (info.detect < 0 || info.detect >= kSteps || info.slot < 0 || info.slot >= kSlots)
        return QImage();
    cv::Mat image;
    cv::Mat mask;
    QVector<std::shared_ptr<const RoiInterface>> rois;
    {
        // Only references are taken here: a later hand-over swaps in a new
        // buffer and never writes into one that is being drawn.
        QMutexLocker lock(&m_mutex);
        image = m_image[info.detect][info.slot].current;
        mask = m_mask[info.detect][info.slot].current;
        rois = m_rois[info.detect];
    }

    QImage canvas(gImageW, gImageH, QImage::Format_RGB32);
    cv::Mat pixels(canvas.height(), canvas.width(), CV_8UC4, canvas.bits(), size_t(canvas.bytesPerLine()));
    if (image.rows == canvas.height() && image.cols == canvas.width() && image.type() == CV_8UC4)
        cv::cvtColor(image, pixels, cv::COLOR_RGBA2BGRA);
    else if (image.rows == canvas.height() && image.cols == canvas.width() && image.type() == CV_8UC1)
        cv::cvtColor(image, pixels, cv::COLOR_GRAY2BGRA);
    else
        canvas.fill(Qt::black);

    const QString second = m_safetyDoor.load() ? QStringLiteral("安全门触发检测") : QString();
    QFont font(g_BaseFont);
    font.setPixelSize(26);
    {
        QPainter painter(&canvas);
        painter.setFont(font);
        painter.setPen(info.ok ? Qt::green : Qt::red);
        painter.drawText(5, 80, info.ok ? QStringLiteral("OK") : QStringLiteral("NG"));
        painter.drawText(5, 110, second);
    }
    overlayMask(canvas, mask);
    {
        QPainter painter(&canvas);
        QFont small(font);
        small.setPixelSize(16);
        painter.setFont(small);
        const bool compact = rois.size() > 10;
        for (const auto& roi : rois)
            roi->drawSave(painter, compact);
        painter.setFont(font);
        painter.setPen(Qt::red);
        painter.drawText(55, 80, info.text);
    }
    return canvas;
}

bool SaveFailImageThread::saveFile(const QString& path, const SaveImg_CacheInfo& info)
{
    const int limit = info.ok ? gPicNumOK.load() : gPicNumNG.load();
    if (limit <= 0)
        return false;
    const QImage canvas = drawImage(info);

    const QDir dir = QFileInfo(path).absoluteDir();
    QStringList names = dir.entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                      QDir::Name);
    while (!names.isEmpty() && names.size() >= limit) {
        const QString oldest = dir.filePath(names.takeFirst());
        if (!QFile::remove(oldest))
            qCWarning(level_1) << "alarm image" << oldest << "could not be removed";
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !canvas.save(&file, "JPG") || !file.commit()) {
        qCWarning(level_1) << "alarm image" << path << "could not be written:" << file.errorString();
        return false;
    }
    return true;
}
