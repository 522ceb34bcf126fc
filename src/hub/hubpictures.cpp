// The hub's pictures: template and alarm-image paths and lists, the NG
// images held in memory, the current frame and ignore mask, and which alarm
// images each event of a detection cycle hands to the alarm-image writer.
#include "hub/divuvarude.h"

#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "hub/saveimage.h"
#include "inspection/camera.h"
#include "inspection/camerastoreservices.h"
#include "inspection/cameraimage.h"
#include "inspection/cammersingleton.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QMutexLocker>
#include <QThread>

#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kPictureSteps = 4;

bool pictureStep(int detect)
{
    return detect >= 0 && detect < kPictureSteps;
}

// One plain file name: not empty, not "." or "..", no separator, no NUL.
bool plainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

// The path of `name` in `dir`, or "" when an existing file of that name
// really lies elsewhere (a link out of the folder).
QString insideFolder(const QDir& dir, const QString& name)
{
    const QString path = dir.absoluteFilePath(name);
    const QFileInfo file(path);
    if (!file.exists() && !file.isSymLink())
        return path;
    const QString real = file.canonicalFilePath();
    const QString folder = QFileInfo(dir.absolutePath()).canonicalFilePath();
    if (real.isEmpty() || folder.isEmpty() || QFileInfo(real).absolutePath() != folder)
        return QString();
    return path;
}

// The alarm images of a folder, newest first (same time: by name), at most
// `limit`. Sorted on the times read once per file: sorting through
// QFileInfo's local-time stamps costs a time-zone lookup, a stat of
// /etc/localtime, per comparison, which made a full folder take tens of
// milliseconds on the main thread.
QFileInfoList newestImages(const QDir& dir, int limit)
{
    struct Entry {
        qint64 mtimeMs;
        QString name;
    };
    std::vector<Entry> entries;
    const QStringList names = dir.entryList({QStringLiteral("*.jpg")}, QDir::Files);
    entries.reserve(size_t(names.size()));
    for (const QString& name : names) {
        struct stat st {};
        if (::stat(QFile::encodeName(dir.filePath(name)).constData(), &st) != 0)
            continue;  // gone since the listing
        entries.push_back({qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000, name});
    }
    const size_t keep = std::min(entries.size(), size_t(std::max(0, limit)));
    const auto newerFirst = [](const Entry& a, const Entry& b) {
        return a.mtimeMs != b.mtimeMs ? a.mtimeMs > b.mtimeMs : a.name.compare(b.name) < 0;
    };
    std::partial_sort(entries.begin(), entries.begin() + std::ptrdiff_t(keep), entries.end(), newerFirst);
    QFileInfoList files;
    files.reserve(int(keep));
    for (size_t i = 0; i < keep; ++i)
        files << QFileInfo(dir, entries[i].name);
    return files;
}

QStringList namesOf(const QFileInfoList& files)
{
    QStringList names;
    for (const QFileInfo& f : files)
        names << f.fileName();
    return names;
}

}  // namespace

QString DiVuVarude::getPicDir(QString name, int detect, QString kind)
{
    const bool known = kind == QLatin1String("template") || kind == QLatin1String("result_ng")
                       || kind == QLatin1String("result_ok");
    if (!known || !pictureStep(detect))
        return QString();
    if (!plainFileName(name)) {
        qCWarning(level_1).noquote() << "[HUB] picture name refused (not a plain file name):" << name.toUtf8().toPercentEncoding();
        return QString();
    }
    QDir dir;
    if (kind == QLatin1String("template"))
        dir = QDir(CameraImage::templateDir(detect));
    else
        dir = alarmDirectory(detect, kind == QLatin1String("result_ok"));
    const QString inside = insideFolder(dir, name);
    if (inside.isEmpty()) {
        qCWarning(level_1).noquote() << "[HUB] picture refused: " << name << "leads out of" << dir.absolutePath();
        return QString();
    }
    if (kind != QLatin1String("template"))
        return inside;
    // The template path in the form the store uses; the current template
    // name belongs to the hub's thread.
    if (QThread::currentThread() == thread())
        m_camera->cameraImage()->updateCurTemplateName(name);
    else
        QMetaObject::invokeMethod(this, [this, name] { m_camera->cameraImage()->updateCurTemplateName(name); },
                                  Qt::QueuedConnection);
    return CameraImage::templatePath(detect, name);
}

QJsonObject DiVuVarude::templateFileLists()
{
    QJsonArray templates, times;
    CameraImage* image = m_camera->cameraImage();
    for (int k = 0; k < gDNum; ++k) {
        templates.append(pictureStep(k) ? image->getTemplateNamelist(k).join(QLatin1Char(';')) : QString());
        times.append(pictureStep(k) ? image->getTemplateTimelist(k).join(QLatin1Char(';')) : QString());
    }
    return QJsonObject{{QStringLiteral("tmpimg_group"), templates}, {QStringLiteral("tmptime_group"), times}};
}

DiVuVarude::AlarmListing DiVuVarude::alarmListing() const
{
    AlarmListing listing;
    listing.ngLimit = gPicNumNG.load();
    listing.okLimit = gPicNumOK.load();
    for (int k = 0; k < gDNum; ++k) {
        listing.ngFolders << (pictureStep(k) ? alarmDirectory(k, false).path() : QString());
        listing.okFolders << (pictureStep(k) ? alarmDirectory(k, true).path() : QString());
    }
    return listing;
}

void DiVuVarude::AlarmListing::listInto(QJsonObject& lists) const
{
    auto texts = [](const QStringList& folders, int limit) {
        QJsonArray out;
        for (const QString& folder : folders)
            out.append(folder.isEmpty() ? QString()
                                        : namesOf(newestImages(QDir(folder), limit)).join(QLatin1Char(';')));
        return out;
    };
    lists.insert(QStringLiteral("okresimg_group"), texts(okFolders, okLimit));
    lists.insert(QStringLiteral("ngresimg_group"), texts(ngFolders, ngLimit));
}

QJsonObject DiVuVarude::getPicFileList()
{
    QJsonObject all = templateFileLists();
    alarmListing().listInto(all);
    return all;
}

bool DiVuVarude::alarmFolderOf(const QString& kind, int detect, QString* folder, int* limit) const
{
    const bool okKind = kind == QLatin1String("okresult");
    if (!pictureStep(detect) || (!okKind && kind != QLatin1String("ngresult")))
        return false;
    *folder = alarmDirectory(detect, okKind).path();
    *limit = okKind ? gPicNumOK.load() : gPicNumNG.load();
    return true;
}

QJsonObject DiVuVarude::alarmFolderList(const QString& folder, int limit)
{
    QJsonArray names, times;
    for (const QFileInfo& f : newestImages(QDir(folder), limit)) {
        names.append(f.fileName());
        times.append(f.lastModified().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    }
    return QJsonObject{{QStringLiteral("file_name"), names}, {QStringLiteral("file_mtime"), times}};
}

QJsonObject DiVuVarude::getPicFileList(const QString& kind, int detect)
{
    QString folder;
    int limit = 0;
    if (alarmFolderOf(kind, detect, &folder, &limit))
        return alarmFolderList(folder, limit);
    if (kind != QLatin1String("temp") || !pictureStep(detect))
        return QJsonObject();
    QJsonArray names, times;
    CameraImage* image = m_camera->cameraImage();
    const QStringList n = image->getTemplateNamelist(detect);
    const QStringList t = image->getTemplateTimelist(detect);
    const int templateLimit = m_params ? m_params->h_temp_count : 0;
    for (int i = 0; i < n.size() && i < templateLimit; ++i) {
        names.append(n[i]);
        times.append(t.value(i));
    }
    return QJsonObject{{QStringLiteral("file_name"), names}, {QStringLiteral("file_mtime"), times}};
}

cv::Mat DiVuVarude::getNGPic(int index, int number)
{
    const int steps = gDNum;
    const int step = steps == 0 ? index : index - (index / steps) * steps;
    const int image = number - (number / CameraImage::kMaxNgImages) * CameraImage::kMaxNgImages;
    if (!pictureStep(step) || image < 0)
        return cv::Mat();
    QMutexLocker lock(&m_ngMutex);
    CameraImage* store = m_camera->cameraImage();
    if (image >= store->getNgCount(step))
        return cv::Mat();
    return store->getNgImage(step, image);
}

cv::Mat DiVuVarude::getOrigImage()
{
    return m_camera->cameraImage()->getWorkImage();
}

quint64 DiVuVarude::origImageGeneration() const
{
    return m_camera->cameraImage()->workGeneration();
}

cv::Mat DiVuVarude::getOrigMask()
{
    return m_camera->cameraSingleton()->getIgnoreMask(0);
}

cv::Rect DiVuVarude::getOrigMaskScope()
{
    return m_camera->cameraSingleton()->getMaskScope();
}

void DiVuVarude::SaveImageFile(int detect, int kind, QString businessId)
{
    if (!pictureStep(detect)) {
        qCWarning(level_1) << "[HUB] SaveImageFile: detection" << detect << "does not exist, kind" << kind << "ignored";
        return;
    }
    const auto queue = [this, detect](int slot, const QString& text) {
        SaveImg_CacheInfo info;
        info.business_id = m_pendingBusinessId;
        info.reserved = 0;
        info.detect = detect;
        info.slot = slot;
        info.ok = slot;
        info.text = text;
        qInfo().noquote() << "[HUB] alarm image queued: detection" << detect << "slot" << slot << "business id"
                          << info.business_id << "text" << text;
        if (m_writer)
            m_writer->addCacheInfo(info);
    };
    int& last = m_lastSavedKind[detect];
    switch (kind) {
    case 2:
        last = 2;
        m_camera->SaveImageMem(detect, true);
        m_pendingBusinessId = businessId;
        queue(1, QString());
        return;
    case 3:
        last = 3;
        m_camera->SaveImageMem(detect, false);
        m_pendingBusinessId = businessId;
        return;
    default:
        break;
    }
    if (last != 3)
        return;
    switch (kind) {
    case 4:
        queue(0, tr("警报解除方法：不检测此模"));
        break;
    case 5:
        queue(0, tr("警报解除方法：添加为模板"));
        break;
    case 7:
        queue(0, tr("警报解除方法：重新检测(报警NG图片)"));
        m_camera->SaveImageMem(detect, true);
        queue(1, tr("警报解除方法：重新检测(重检OK图片)"));
        break;
    case 8:
        queue(0, tr("检测结果NG（NG不停机）"));
        break;
    default:
        return;
    }
    last = 0;
}
