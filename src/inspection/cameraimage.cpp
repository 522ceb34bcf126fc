#include "inspection/cameraimage.h"
#include "foundation/logmanager.h"

#include "inspection/alarmimagesink.h"
#include "inspection/camerastoreservices.h"
#include "inspection/cammersingleton.h"
#include "inspection/hubservices.h"
#include "inspection/pixelformat.h"
#include "inspection/processorinterface.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

#include <opencv2/imgproc.hpp>

int32_t gColorLen = 0;

namespace {

constexpr char kMasterName[] = "template00.bmp";
constexpr char kTimeFormat[] = "yyyy-MM-dd hh:mm:ss";
// Steps have the directories ./cammer11 ... ./cammer14.
constexpr int kMaxSteps = 4;

int stepsInUse()
{
    return std::clamp(int(gDNum), 0, kMaxSteps);
}

// The colour table of 8-bit template files: index i is grey i.
const QVector<QRgb>& greyColourTable()
{
    static const QVector<QRgb> table = [] {
        QVector<QRgb> t(256);
        for (int i = 0; i < 256; ++i)
            t[i] = qRgb(i, i, i);
        return t;
    }();
    return table;
}

bool frameGeometryValid()
{
    return gImageW > 0 && gImageH > 0 && int64_t(gImageW) * gImageH == int64_t(gImageLen);
}

}  // namespace

// --- conversions between OpenCV and Qt -------------------------------------------

QImage Mat2QImage(cv::Mat mat)
{
    if (mat.empty() || mat.depth() != CV_8U)
        return QImage();
    switch (mat.channels()) {
    case 3: {
        QImage view(mat.data, mat.cols, mat.rows, int(mat.step), QImage::Format_RGB888);
        return view.rgbSwapped();  // B,G,R -> R,G,B; a deep copy
    }
    case 4: {
        QImage view(mat.data, mat.cols, mat.rows, int(mat.step), QImage::Format_ARGB32);
        return view.copy();
    }
    case 1: {
        QImage view(mat.data, mat.cols, mat.rows, int(mat.step), QImage::Format_Grayscale8);
        return view.copy();
    }
    default:
        return QImage();
    }
}

cv::Mat QImage2cvMat(QImage image)
{
    if (image.isNull())
        return cv::Mat();
    // constBits: reading through a const pointer never detaches the image.
    auto* bytes = const_cast<uchar*>(image.constBits());
    const size_t step = size_t(image.bytesPerLine());
    switch (image.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
        return cv::Mat(image.height(), image.width(), CV_8UC1, bytes, step).clone();
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return cv::Mat(image.height(), image.width(), CV_8UC4, bytes, step).clone();
    case QImage::Format_RGB888: {
        cv::Mat bgr;
        cv::cvtColor(cv::Mat(image.height(), image.width(), CV_8UC3, bytes, step), bgr, cv::COLOR_RGB2BGR);
        return bgr;
    }
    default:
        return cv::Mat();
    }
}

// --- construction -----------------------------------------------------------------

CameraImage::CameraImage(CameraSingleton* store)
    : m_curTemplateName(QLatin1String(kMasterName)), m_store(store)
{
}

CameraImage::~CameraImage() = default;

void CameraImage::initImage()
{
    initImage(m_store && m_store->cameraParams().c_colorrepmono);
}

void CameraImage::initImage(bool colour)
{
    m_format = kFormatNV12;
    m_channels = colour ? 4 : 1;
    if (!frameGeometryValid()) {
        qCWarning(level_1) << "image store: frame geometry" << gImageW << "x" << gImageH << "(" << gImageLen
                   << "pixels) is not usable; no buffers";
        gColorLen = 0;
        m_raw = m_rgba = m_work = m_shape = cv::Mat();
    } else {
        gColorLen = gImageLen * m_channels;
        m_raw = cv::Mat::zeros(1, int(double(gImageLen) * 1.5), CV_8UC1);
        m_rgba = cv::Mat::zeros(gImageH, gImageW, CV_8UC4);
        m_work = newImage();
        m_shape = newImage();
    }
    m_workGeneration.fetch_add(1, std::memory_order_release);
    createTemplate();
    createNgImage();
}

cv::Mat CameraImage::newImage() const
{
    return cv::Mat::zeros(gImageH, gImageW, CV_8UC(m_channels));
}

// --- frames -------------------------------------------------------------------------

int CameraImage::getImageDataLen() const
{
    return m_format == kFormatNV12 ? int(double(gImageLen) * 1.5) : int(gImageLen);
}

void CameraImage::updateImageData()
{
    if (m_raw.empty() || m_work.empty())
        return;
    // Counted before the pixels change: a copy taken under the old count is
    // never taken for the new frame.
    m_workGeneration.fetch_add(1, std::memory_order_release);
    if (m_format == kFormatNV12) {
        // 4:2:0 needs an even frame; the luma plane is followed by H/2 rows of
        // chroma pairs.
        if (gImageW % 2 != 0 || gImageH % 2 != 0) {
            qCWarning(level_1) << "image store: a YUV 4:2:0 frame needs an even size, not" << gImageW << "x" << gImageH;
            return;
        }
        const cv::Mat yuv(gImageH * 3 / 2, gImageW, CV_8UC1, m_raw.data);
        if (isColour())
            yuv420sp2rgba(yuv, m_work.data);
        else
            yuv420sp2gray(yuv, m_work.data);
        return;
    }
    qInfo().noquote() << QStringLiteral("<%1>:").arg(QLatin1String("updateImageData")) << "V4L2_PIX_FMT_GREY"
                      << (isColour() ? "true" : "false");
    const cv::Mat grey(gImageH, gImageW, CV_8UC1, m_raw.data);
    if (isColour())
        cv::cvtColor(grey, m_work, cv::COLOR_GRAY2BGRA);
    else
        grey.copyTo(m_work);
}

void CameraImage::updateShapeImage()
{
    if (!m_work.empty())
        m_work.copyTo(m_shape);
}

// --- template look-ups ---------------------------------------------------------------

bool CameraImage::checkDetect(int detect) const
{
    if (detect >= 0 && detect < int(m_templates.size()))
        return true;
    qInfo() << "detect exceeds gDNum" << detect;
    return false;
}

int CameraImage::indexOf(int detect, const QString& name) const
{
    const std::vector<stuCameraImage>& list = m_templates[size_t(detect)];
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].name == name)
            return int(i);
    }
    return -1;
}

cv::Mat CameraImage::getTemplateData(int detect, int index) const
{
    if (!checkDetect(detect))
        return cv::Mat();
    const std::vector<stuCameraImage>& list = m_templates[size_t(detect)];
    if (index < 0 || index >= int(list.size())) {
        qInfo() << "no exceeds list count" << index;
        return cv::Mat();
    }
    const cv::Mat image = list[size_t(index)].image;
    if (image.empty())
        qCInfo(level_1) << "No." << index << "template file is not find";
    return image;
}

cv::Mat CameraImage::getTemplateData(int detect, const QString& name) const
{
    if (!checkDetect(detect))
        return cv::Mat();
    const int index = indexOf(detect, name);
    const cv::Mat image = index >= 0 ? m_templates[size_t(detect)][size_t(index)].image : cv::Mat();
    if (image.empty())
        qCInfo(level_1) << name << "template file is not find";
    return image;
}

cv::Mat CameraImage::getFirstTemplate(int detect) const
{
    return getTemplateData(detect, QLatin1String(kMasterName));
}

cv::Mat CameraImage::getCurTemplate(int detect) const
{
    return getTemplateData(detect, m_curTemplateName);
}

bool CameraImage::hasTemplate(int detect, const QString& name) const
{
    return detect >= 0 && detect < int(m_templates.size()) && indexOf(detect, name) >= 0;
}

QStringList CameraImage::getTemplateNamelist(int detect) const
{
    QStringList names;
    if (!checkDetect(detect))
        return names;
    for (const stuCameraImage& t : m_templates[size_t(detect)])
        names << t.name;
    return names;
}

QStringList CameraImage::getTemplateTimelist(int detect) const
{
    QStringList times;
    if (!checkDetect(detect))
        return times;
    for (const stuCameraImage& t : m_templates[size_t(detect)])
        times << t.time;
    return times;
}

int CameraImage::getTemplateCount(int detect) const
{
    if (detect < 0 || detect >= int(m_templates.size()))
        return 0;
    return int(m_templates[size_t(detect)].size());
}

QString CameraImage::templateName(int number)
{
    return QStringLiteral("template%1.bmp").arg(number, 2, 10, QLatin1Char('0'));
}

QString CameraImage::templateDir(int detect)
{
    return QStringLiteral("./cammer1%1").arg(detect + 1);
}

QString CameraImage::templatePath(int detect, const QString& name)
{
    return QStringLiteral("./cammer1%1/%2").arg(detect + 1).arg(name);
}

QString CameraImage::fileTime(const QString& path)
{
    return QFileInfo(path).lastModified().toString(QLatin1String(kTimeFormat));
}

int CameraImage::maxTemplateCount()
{
    const QJsonObject params = HubServices::processParams();
    const QJsonValue value = params.value(QStringLiteral("h_temp_count"));
    if (value.isUndefined())
        return -1;
    return jsonWholeNumber(value);
}

int CameraImage::getTemplateAvailableIndex(int detect) const
{
    if (!checkDetect(detect))
        return -1;
    const int limit = maxTemplateCount();
    for (int n = 0; n < limit; ++n) {
        if (indexOf(detect, templateName(n)) < 0)
            return n;
    }
    return -1;
}

// --- files ---------------------------------------------------------------------------

bool CameraImage::writeTemplateFile(const QString& path, const cv::Mat& image) const
{
    if (image.empty() || image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 4)) {
        qCWarning(level_1) << "template" << path << "not written: no image of the frame's layout";
        return false;
    }
    QDir().mkpath(QFileInfo(path).path());
    // Grey: 8-bit indexed with the grey colour table; colour: the bytes read
    // as 32-bit pixels.
    QImage view(image.data, image.cols, image.rows, int(image.step),
                image.channels() == 1 ? QImage::Format_Indexed8 : QImage::Format_RGB32);
    if (image.channels() == 1)
        view.setColorTable(greyColourTable());
    // Written beside the file and renamed over it: a failed or interrupted
    // write leaves the previous file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(level_1) << "template" << path << "not written:" << file.errorString();
        return false;
    }
    QImageWriter writer(&file, "bmp");
    if (!writer.write(view)) {
        qCWarning(level_1) << "template" << path << "not written:" << writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(level_1) << "template" << path << "not written:" << file.errorString();
        return false;
    }
    return true;
}

bool CameraImage::removeTemplateFile(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (file.remove())
        return true;
    qCWarning(level_1) << "template file" << path << "could not be removed:" << file.errorString();
    return false;
}

void CameraImage::setAside(const QString& path, const QString& why)
{
    // Never deleted: the operator may still want it. Out of the template
    // pattern, it is neither loaded nor trimmed again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString target = attempt == 0 ? path + QStringLiteral(".unreadable")
                                            : path + QStringLiteral(".unreadable.%1").arg(attempt);
        if (QFileInfo::exists(target))
            continue;
        if (QFile::rename(path, target)) {
            qCWarning(level_1).noquote() << QStringLiteral("template file %1 %2: set aside as %3").arg(path, why, target);
            return;
        }
        break;
    }
    qCWarning(level_1).noquote() << QStringLiteral("template file %1 %2 and could not be set aside; it is not loaded")
                                .arg(path, why);
}

bool CameraImage::readTemplateFile(const QFileInfo& file, stuCameraImage& record, QString& why) const
{
    QImageReader reader(file.filePath());
    const QImage image = reader.read();
    if (image.isNull()) {
        why = QStringLiteral("cannot be read (%1)").arg(reader.errorString());
        return false;
    }
    if (image.width() != gImageW || image.height() != gImageH ||
        int64_t(image.width()) * image.height() * image.depth() != int64_t(gColorLen) * 8) {
        why = QStringLiteral("is %1 x %2 at %3 bits, not a %4 x %5 %6 template")
                  .arg(image.width())
                  .arg(image.height())
                  .arg(image.depth())
                  .arg(gImageW)
                  .arg(gImageH)
                  .arg(isColour() ? QStringLiteral("colour") : QStringLiteral("grey"));
        return false;
    }
    record.image = newImage();
    const size_t lineBytes = size_t(gImageW) * size_t(m_channels);
    for (int y = 0; y < gImageH; ++y)
        std::memcpy(record.image.ptr(y), image.constScanLine(y), lineBytes);
    record.len = gColorLen;
    record.name = file.fileName();
    record.time = file.lastModified().toString(QLatin1String(kTimeFormat));
    return true;
}

stuCameraImage CameraImage::makeDefaultTemplate(int detect) const
{
    stuCameraImage record;
    record.image = newImage();
    const cv::Rect centre(gImageW / 4, gImageH / 4, gImageW / 2, gImageH / 2);
    // White in every colour channel; the fourth channel stays 0.
    record.image(centre).setTo(m_channels == 4 ? cv::Scalar(255, 255, 255, 0) : cv::Scalar(255));
    record.len = gColorLen;
    record.name = QLatin1String(kMasterName);
    const QString path = templatePath(detect, record.name);
    if (writeTemplateFile(path, record.image))
        record.time = fileTime(path);
    else
        // The step still needs a template to inspect with; the next load
        // tries to write it again.
        qCWarning(level_1) << "default template of detection" << detect + 1 << "is kept in memory only";
    return record;
}

// --- loading ---------------------------------------------------------------------------

void CameraImage::clearTemplate()
{
    m_templates.clear();
}

void CameraImage::createTemplate()
{
    const int limit = maxTemplateCount();
    const int steps = stepsInUse();
    for (int d = 0; d < steps; ++d) {
        const QDir dir(QStringLiteral("./cammer%1%2/").arg(1).arg(d + 1));
        const QFileInfoList entries = dir.entryInfoList({QStringLiteral("template*.bmp")},
                                                        QDir::Files | QDir::CaseSensitive, QDir::Time);
        // Newest first, usable files only: anything else is set aside first
        // so that it takes no place in the trim.
        std::vector<stuCameraImage> found;
        if (gColorLen > 0) {
            for (const QFileInfo& entry : entries) {
                stuCameraImage record;
                QString why;
                if (readTemplateFile(entry, record, why))
                    found.push_back(std::move(record));
                else
                    setAside(entry.filePath(), why);
            }
        }

        // Trim on disk to the configured count, oldest first, never the
        // master. Without a configured count nothing is trimmed.
        while (limit >= 0 && int(found.size()) > limit && found.size() >= 2) {
            stuCameraImage oldest = std::move(found.back());
            found.pop_back();
            if (oldest.name == QLatin1String(kMasterName)) {
                found.insert(found.begin(), std::move(oldest));
                continue;
            }
            if (!removeTemplateFile(templatePath(d, oldest.name))) {
                // Still on disk, so still a template.
                found.push_back(std::move(oldest));
                break;
            }
        }

        std::vector<stuCameraImage> list;
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            if (it->name == QLatin1String(kMasterName))
                list.insert(list.begin(), std::move(*it));
            else
                list.push_back(std::move(*it));
        }
        if (list.empty() && gColorLen > 0)
            list.push_back(makeDefaultTemplate(d));
        m_templates.push_back(std::move(list));
    }
}

// --- template edits ----------------------------------------------------------------------

bool CameraImage::removeRecord(int detect, int index)
{
    std::vector<stuCameraImage>& list = m_templates[size_t(detect)];
    if (!removeTemplateFile(templatePath(detect, list[size_t(index)].name)))
        return false;
    list.erase(list.begin() + index);
    return true;
}

bool CameraImage::checkTemplateCount(int detect, bool adding)
{
    if (!checkDetect(detect))
        return false;
    const int max = maxTemplateCount();
    const int limit = adding ? max - 1 : max;
    std::vector<stuCameraImage>& list = m_templates[size_t(detect)];
    while (int(list.size()) > limit && list.size() >= 2) {
        if (!removeRecord(detect, 1))
            return false;
    }
    return true;
}

bool CameraImage::storeTemplate(int detect, const cv::Mat& source)
{
    const int max = maxTemplateCount();
    if (max < 2) {
        // Beside the master there is no room for another template: refused
        // before the trim, which would otherwise delete templates for nothing.
        qCInfo(level_1) << "get template available index fail:" << "h_temp_count" << max << "leaves no room";
        return false;
    }
    if (source.empty() || source.total() * source.elemSize() != size_t(gColorLen)) {
        qCWarning(level_1) << "template of detection" << detect + 1 << "not added: no image to take it from";
        return false;
    }
    // Taken before the trim, so that nothing the trim does can touch it.
    stuCameraImage record;
    record.image = source.clone();
    if (!checkTemplateCount(detect, true))
        return false;
    const int number = getTemplateAvailableIndex(detect);
    if (number < 0) {
        qCInfo(level_1) << "get template available index fail";
        return false;
    }
    record.len = gColorLen;
    record.name = templateName(number);
    const QString path = templatePath(detect, record.name);
    if (!writeTemplateFile(path, record.image))
        return false;
    record.time = fileTime(path);
    m_templates[size_t(detect)].push_back(std::move(record));
    qInfo().noquote() << QStringLiteral("template %1 of detection %2 added").arg(templateName(number)).arg(detect + 1);
    return true;
}

bool CameraImage::addTemplate(int detect)
{
    if (!checkDetect(detect))
        return false;
    return storeTemplate(detect, m_shape);
}

bool CameraImage::addTemplateFromNG(int detect, int ngIndex)
{
    if (detect < 0 || detect >= int(m_ngImages.size()) || detect >= int(m_templates.size())) {
        qInfo() << "detect exceeds gDNum" << detect;
        return false;
    }
    const std::deque<cv::Mat>& ng = m_ngImages[size_t(detect)];
    if (ngIndex < 0 || ngIndex >= int(ng.size())) {
        qInfo() << "no exceeds list count" << ngIndex;
        return false;
    }
    return storeTemplate(detect, ng[size_t(ngIndex)]);
}

bool CameraImage::makeMaster(int detect, stuCameraImage& record) const
{
    const QString master = QLatin1String(kMasterName);
    if (record.name == master)
        return true;
    const QString from = templatePath(detect, record.name);
    const QString to = templatePath(detect, master);
    if (QFileInfo::exists(to)) {
        qCWarning(level_1) << "template" << record.name << "cannot become the master:" << to << "is in the way";
        return false;
    }
    if (QFileInfo::exists(from)) {
        QFile file(from);
        if (!file.rename(to)) {
            qCWarning(level_1) << "template" << from << "could not be renamed to" << to << ":" << file.errorString();
            return false;
        }
    } else if (!writeTemplateFile(to, record.image)) {
        // Its file was missing: written again under the master's name.
        return false;
    }
    record.name = master;
    record.time = fileTime(to);
    return true;
}

bool CameraImage::deleteTemplate(int detect, const QString& requested)
{
    // A copy: the caller's text may be a record's own name.
    const QString name = requested;
    if (!checkDetect(detect))
        return false;
    std::vector<stuCameraImage>& list = m_templates[size_t(detect)];
    if (list.size() < 2) {
        qCInfo(level_1) << name << "not deleted: the last template of detection" << detect + 1 << "stays";
        return false;
    }
    bool removed = false;
    bool masterRemoved = false;
    for (int i = int(list.size()) - 1; i >= 0; --i) {
        if (list[size_t(i)].name != name)
            continue;
        if (!removeRecord(detect, i))
            return false;
        removed = true;
        masterRemoved = masterRemoved || name == QLatin1String(kMasterName);
    }
    if (!removed) {
        qCInfo(level_1) << name << "template file is not find";
        return false;
    }
    qInfo().noquote() << QStringLiteral("template %1 of detection %2 deleted").arg(name).arg(detect + 1);
    if (masterRemoved && !list.empty())
        return makeMaster(detect, list.front());
    return true;
}

bool CameraImage::deleteTemplate(int detect, int index)
{
    if (!checkDetect(detect))
        return false;
    std::vector<stuCameraImage>& list = m_templates[size_t(detect)];
    if (index < 0 || index >= int(list.size())) {
        qInfo() << "no exceeds list count" << index;
        return false;
    }
    const QString name = list[size_t(index)].name;  // a copy: the record goes
    return deleteTemplate(detect, name);
}

bool CameraImage::deleteAllTemplate(int detect, bool /*unused*/)
{
    if (!checkDetect(detect))
        return false;
    std::vector<stuCameraImage>& list = m_templates[size_t(detect)];
    if (list.empty())
        return false;
    while (list.size() > 1) {
        if (!removeRecord(detect, 0))
            return false;
    }
    qInfo().noquote() << QStringLiteral("templates of detection %1 deleted but %2").arg(detect + 1).arg(list.front().name);
    return makeMaster(detect, list.front());
}

// --- NG images ------------------------------------------------------------------------------

bool CameraImage::addNGImage(int detect)
{
    if (detect < 0 || detect >= int(m_ngImages.size())) {
        qInfo() << "detect exceeds gDNum" << detect;
        return false;
    }
    if (m_shape.empty())
        return false;
    std::deque<cv::Mat>& ring = m_ngImages[size_t(detect)];
    while (int(ring.size()) >= kMaxNgImages)
        ring.pop_front();
    ring.push_back(m_shape.clone());
    return true;
}

void CameraImage::clearNgImage()
{
    m_ngImages.clear();
}

void CameraImage::createNgImage()
{
    for (int d = 0; d < stepsInUse(); ++d)
        m_ngImages.emplace_back();
}

int CameraImage::getNgCount(int detect) const
{
    if (detect < 0 || detect >= int(m_ngImages.size()))
        return 0;
    return int(m_ngImages[size_t(detect)].size());
}

cv::Mat CameraImage::getNgImage(int detect, int index) const
{
    if (index < 0 || index >= getNgCount(detect))
        return cv::Mat();
    return m_ngImages[size_t(detect)][size_t(index)];
}

void CameraImage::reload_Dynamic_ImageSpace()
{
    clearTemplate();
    createTemplate();
    clearNgImage();
    createNgImage();
}

// --- retrain and alarm images -------------------------------------------------------------

bool CameraImage::SaveReTrainImage(int detect)
{
    updateImageData();
    updateShapeImage();
    if (!checkDetect(detect))
        return false;
    std::vector<stuCameraImage>& list = m_templates[size_t(detect)];
    if (list.empty())
        return false;
    stuCameraImage& first = list.front();
    if (first.image.empty() || m_shape.empty()) {
        qCInfo(level_1) << "SaveReTrainImage" << "get first template data fail";
        return false;
    }
    // Written under the first template's own name, so that the file and the
    // record stay one template (normally "template00.bmp"). The file first:
    // when it cannot be written, memory keeps the old template too.
    const QString path = templatePath(detect, first.name);
    if (!writeTemplateFile(path, m_shape))
        return false;
    m_shape.copyTo(first.image);
    first.time = fileTime(path);
    return true;
}

void CameraImage::SaveImageMem(int detect, bool ng)
{
    if (detect < 0 || detect >= int(m_templates.size())) {
        qInfo() << "detect exceeds gDNum" << detect;
        return;
    }
    AlarmImageSink* sink = AlarmImageSink::instance();
    if (!sink) {
        qCWarning(level_1) << "no alarm-image writer: the image of detection" << detect + 1 << "is not saved";
        return;
    }
    if (m_shape.empty() || m_rgba.empty())
        return;
    // A grey snapshot goes over as it is (a quarter of the bytes); the
    // writer widens it while it draws, on its own thread.
    sink->save2FailImage(m_shape, 0, detect, ng);
    cv::Mat counted;
    if (m_store) {
        const cv::Mat ignore = m_store->getIgnoreMask(detect);
        if (!ignore.empty())
            counted = cv::Scalar(255) - ignore;
    }
    if (counted.empty())
        counted = cv::Mat(gImageH, gImageW, CV_8UC1, cv::Scalar(255));
    sink->save2MaskCache(counted, 0, detect, ng);
    sink->save2Roi(m_store ? m_store->getRois(detect) : QVector<RoiInterface*>(), 0, detect);
}
