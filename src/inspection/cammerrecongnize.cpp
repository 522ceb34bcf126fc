#include "inspection/cammerrecongnize.h"

#include "foundation/logmanager.h"
#include "inspection/camera.h"
#include "inspection/camerastoreservices.h"
#include "inspection/cameraimage.h"
#include "inspection/cammersingleton.h"
#include "inspection/flawdetect.h"
#include "inspection/hubservices.h"
#include "inspection/pluginsmanager.h"
#include "inspection/processorinterface.h"

#include <QDebug>

#include <algorithm>
#include <exception>

namespace {

const QString kLocation = QStringLiteral("location");
const QString kIgnore = QStringLiteral("ignore");

// The countable area of a region, or -1 when it is unusable.
int measureCountable(const RoiInterface* region, const cv::Mat& ignoreMask)
{
    if (!ProcessorInterface::regionInspectable(region))
        return -1;
    return ProcessorInterface::countableArea(region, ignoreMask);
}

// A process parameter switch: a JSON boolean, or a number other than 0.
bool paramFlag(const QJsonObject& params, const char* key)
{
    const QJsonValue value = params.value(QLatin1String(key));
    if (value.isBool())
        return value.toBool();
    if (value.isDouble())
        return value.toDouble() != 0.0;
    return false;
}

// A view of image at rect, or an empty matrix when rect is not inside it.
cv::Mat viewAt(const cv::Mat& image, const cv::Rect& rect)
{
    if (image.empty() || rect.width <= 0 || rect.height <= 0 || (rect & cv::Rect(0, 0, image.cols, image.rows)) != rect)
        return cv::Mat();
    return image(rect);
}

}  // namespace

CameraRecong::CameraRecong(CameraSingleton* store, Camera* camera) : m_store(store), m_camera(camera)
{
    for (int step = 0; step < kSteps; ++step)
        init(step);
}

CameraRecong::~CameraRecong() = default;

bool CameraRecong::stepValid(int step)
{
    return step >= 0 && step < kSteps;
}

bool CameraRecong::stepEnabled(int step)
{
    if (!stepValid(step))
        return false;
    // Steps beyond the detection count in use have no templates to prepare
    // with.
    if (step >= gDNum)
        return false;
    if (!HubServices::instance())
        return step == 1;
    if (step % 2 == 1)
        return true;
    return paramFlag(HubServices::processParams(), "s_action_productdetect");
}

void CameraRecong::clearStep(int step)
{
    m_execSequence[size_t(step)].clear();
    m_locationList[size_t(step)].clear();
    m_autoLocation[size_t(step)].reset();
    m_builtFrom[size_t(step)].clear();
    m_countable[size_t(step)].clear();
    m_built[size_t(step)] = false;
}

void CameraRecong::init(int step)
{
    if (!stepValid(step))
        return;
    if (!stepEnabled(step)) {
        // Emptied, so that the step never points at regions released since.
        clearStep(step);
        return;
    }
    updateExecSequence(step);
    preprocessor(step);
}

void CameraRecong::updateExecSequence(int step)
{
    if (!stepValid(step))
        return;
    clearStep(step);
    RoiHandles& sequence = m_execSequence[size_t(step)];
    RoiHandles& locations = m_locationList[size_t(step)];
    m_built[size_t(step)] = true;
    const RoiHandles regions = m_store ? m_store->getRois(step) : RoiHandles();
    for (RoiInterface* region : regions) {
        m_builtFrom[size_t(step)].push_back({region, region->sharedProcessor()});
        if (region->getProcessorName() == kLocation)
            locations.append(region);
        else
            sequence.append(region);
    }

    QJsonObject params = HubServices::processParams();
    if (!paramFlag(params, "s_sport_correction"))
        return;
    if (!locations.isEmpty()) {
        sequence.prepend(locations.first());
        return;
    }
    // No location region of its own: one over the centre of the frame.
    const QJsonObject object{
        {QStringLiteral("detect_index"), step},
        {QStringLiteral("func_type"), kLocation},
        {QStringLiteral("roi_index"), -1},
        {QStringLiteral("roi_type"), QStringLiteral("rect")},
        {QStringLiteral("func_params"), QJsonArray{10}},
        {QStringLiteral("roi_infos"), QJsonArray{gImageW / 4, gImageH / 4, gImageW / 2 - 1, gImageH / 2 - 1}},
    };
    std::unique_ptr<RoiInterface> region =
        PluginsManager::getInstance()->createNewRoi(QStringLiteral("rect"), m_camera, object);
    if (!region || !region->getProcessor())
        return;
    region->getProcessor()->initSystemParam(params);
    sequence.prepend(region.get());
    m_autoLocation[size_t(step)] = std::move(region);
}

void CameraRecong::preprocessor(int step)
{
    if (!stepValid(step))
        return;
    // The hub prepares a step right after deleting or replacing its
    // regions: never walk a sequence that points at released ones.
    if (!sequenceCurrent(step))
        updateExecSequence(step);
    if (m_store)
        m_store->resetIgnoreMask(step);
    const RoiHandles sequence = m_execSequence[size_t(step)];
    for (RoiInterface* region : sequence) {
        ProcessorInterface* detector = region->getProcessor();
        if (!detector)
            continue;
        try {
            detector->preprocessor(region);
        } catch (const std::exception& e) {
            // The detector keeps no model then and judges its region NG.
            qCWarning(level_1).noquote() << QStringLiteral("preparing region %1 of detection %2 failed: %3")
                                                .arg(region->getRoiIndex() + 1)
                                                .arg(step + 1)
                                                .arg(QString::fromLocal8Bit(e.what()));
        }
    }
    // Only now does the ignore mask hold every ignore region of the step.
    QHash<const RoiInterface*, int>& countable = m_countable[size_t(step)];
    countable.clear();
    const cv::Mat ignore = m_store ? m_store->getIgnoreMask(step) : cv::Mat();
    for (RoiInterface* region : sequence)
        countable.insert(region, measureCountable(region, ignore));
}

int CameraRecong::countableArea(int step, const RoiInterface* region)
{
    const QHash<const RoiInterface*, int>& countable = m_countable[size_t(step)];
    const auto it = countable.constFind(region);
    if (it != countable.constEnd())
        return *it;
    return measureCountable(region, m_store ? m_store->getIgnoreMask(step) : cv::Mat());
}

bool CameraRecong::inspectsAnything(int step) const
{
    if (!stepEnabled(step))
        return false;
    if (paramFlag(HubServices::processParams(), "s_sport_correction"))
        return true;
    const RoiHandles regions = m_store ? m_store->getRois(step) : RoiHandles();
    for (const RoiInterface* region : regions) {
        const QString name = region->getProcessorName();
        if (name != kIgnore && name != kLocation)
            return true;
    }
    return false;
}

QString CameraRecong::unreachableInEdit(const RoiHandles& step)
{
    cv::Mat ignore = cv::Mat::zeros(std::max(int(gImageH), 0), std::max(int(gImageW), 0), CV_8UC1);
    for (RoiInterface* region : step) {
        ProcessorInterface* detector = region->getProcessor();
        if (detector && detector->getName() == kIgnore) {
            cv::Mat noPreview;
            detector->paramChange(region, noPreview, ignore);
        }
    }
    for (RoiInterface* region : step) {
        const ProcessorInterface* detector = region->getProcessor();
        const int countable = detector ? measureCountable(region, ignore) : -1;
        if (countable < 0)
            continue;
        const QString why = detector->unreachableAlarm(countable);
        if (!why.isEmpty())
            return ProcessorInterface::unreachableEditText(region, why);
    }
    return QString();
}

bool CameraRecong::sequenceCurrent(int step) const
{
    const std::vector<PreparedRegion>& built = m_builtFrom[size_t(step)];
    if (!m_built[size_t(step)])
        return true;  // emptied while disabled: it points at nothing and runs nothing
    const RoiHandles stored = m_store ? m_store->getRois(step) : RoiHandles();
    if (int(built.size()) != stored.size())
        return false;
    for (int i = 0; i < stored.size(); ++i) {
        // The address first: a region that is no longer stored is never
        // dereferenced.
        if (built[size_t(i)].region != stored[i])
            return false;
        const std::shared_ptr<ProcessorInterface> detector = built[size_t(i)].detector.lock();
        if (detector.get() != stored[i]->getProcessor())
            return false;
    }
    return true;
}

void CameraRecong::judgeUninspected(const QString& reason)
{
    const cv::Mat resultMask = cv::Mat::zeros(std::max(int(gImageH), 0), std::max(int(gImageW), 0), CV_8UC1);
    if (m_store)
        m_store->setResultMask(resultMask, cv::Rect(0, 0, 0, 1));
    if (m_camera)
        m_camera->setResult(false, reason);
}

cv::Mat CameraRecong::regionMarks(cv::Size size)
{
    const int rows = std::max(size.height, 0);
    const int cols = std::max(size.width, 0);
    const size_t needed = size_t(rows) * size_t(cols);
    if (needed == 0)
        return cv::Mat(rows, cols, CV_8UC1);
    if (m_regionScratch.total() < needed)
        m_regionScratch.create(1, int(needed), CV_8UC1);
    cv::Mat marks(rows, cols, CV_8UC1, m_regionScratch.data);
    marks.setTo(0);
    return marks;
}

void CameraRecong::Run(int step)
{
    if (!stepValid(step) || step >= gDNum) {
        const QString reason = QObject::tr("%1号检测不存在，未进行检测").arg(step + 1);
        qCWarning(level_1).noquote() << reason << QStringLiteral("(judged NG)");
        judgeUninspected(reason);
        return;
    }
    if (!m_store || !m_store->isLoaded()) {
        // Without its parameters the camera does not know what to inspect.
        const QString reason = QObject::tr("parameters not loaded");
        if (!m_notLoadedLogged)
            qCWarning(level_1).noquote() << reason + QStringLiteral(": every detection is judged NG");
        m_notLoadedLogged = true;
        judgeUninspected(reason);
        return;
    }
    m_notLoadedLogged = false;

    const cv::Mat resultMask = cv::Mat::zeros(gImageH, gImageW, CV_8UC1);
    if (!sequenceCurrent(step)) {
        qInfo() << "regions of detection" << step + 1 << "changed since they were prepared: preparing again";
        updateExecSequence(step);
        preprocessor(step);
    }
    if (m_camera && m_camera->cameraImage())
        m_camera->cameraImage()->updateShapeImage();

    const bool ngTemplates = paramFlag(HubServices::processParams(), "h_use_ngtemp");
    const cv::Rect frame(0, 0, resultMask.cols, resultMask.rows);
    bool verdict = true;
    QString reason;
    bool scopeStarted = false;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 1;
    // A region that is not inspected makes the step NG, with its text as the reason.
    const auto judgeNotInspected = [&](RoiInterface* region, const QString& text) {
        region->setResult(false);
        region->setResultDescription(text);
        qCWarning(level_1).noquote() << text << QStringLiteral("(judged NG)");
        if (verdict)
            reason = region->getResultDescription();
        verdict = false;
    };
    const RoiHandles sequence = m_execSequence[size_t(step)];
    for (RoiInterface* region : sequence) {
        ProcessorInterface* detector = region->getProcessor();
        if (!detector) {
            // Kept as read (a shape or detector this program does not know):
            // it was configured, so the step cannot pass without it.
            judgeNotInspected(region, QObject::tr("%1号检测%2号区域无法识别，未进行检测")
                                          .arg(step + 1)
                                          .arg(region->getRoiIndex() + 1));
            continue;
        }
        const int countable = countableArea(step, region);
        const QString unreachable = countable < 0 ? QString() : detector->unreachableAlarm(countable);
        if (!unreachable.isEmpty()) {
            // It would pass whatever the frame shows: not an inspection.
            judgeNotInspected(region, ProcessorInterface::unreachableRunText(region, unreachable));
            continue;
        }
        const cv::Rect rect = region->getImageRect();
        if (detector->getName() != kLocation) {
            left = scopeStarted ? std::min(left, rect.x) : rect.x;
            top = scopeStarted ? std::min(top, rect.y) : rect.y;
            right = std::max(right, rect.x + rect.width);
            bottom = std::max(bottom, rect.y + rect.height);
            scopeStarted = true;
        }
        cv::Mat regionMask = regionMarks(rect.size());
        try {
            detector->execute(region, regionMask);
            FlawDetect::applyNgTemplateRule(region, ngTemplates);
        } catch (const std::exception& e) {
            const QString text = QObject::tr("%1号检测%2号区域检测失败：%3")
                                     .arg(step + 1)
                                     .arg(region->getRoiIndex() + 1)
                                     .arg(QString::fromLocal8Bit(e.what()));
            regionMask = cv::Mat();
            region->setResult(false);
            region->setResultDescription(text);
            qCWarning(level_1).noquote() << text << QStringLiteral("(judged NG)");
        }
        if (regionMask.rows > 0 && regionMask.cols > 0) {
            if (regionMask.type() == CV_8UC1 && regionMask.size() == rect.size() && (rect & frame) == rect) {
                cv::Mat target = resultMask(rect);
                cv::bitwise_or(target, regionMask, target);
            } else {
                qCWarning(level_1) << "marks of region" << region->getRoiIndex() + 1 << "of detection" << step + 1
                                   << "do not fit its rectangle inside the frame: left out of the result mask";
            }
        }
        if (verdict && !region->getResult()) {
            verdict = false;
            reason = region->getResultDescription();
            if (reason.isEmpty())
                reason = QObject::tr("%1号检测%2号区域NG").arg(step + 1).arg(region->getRoiIndex() + 1);
        }
    }
    if (m_store)
        m_store->setResultMask(resultMask, cv::Rect(left, top, right - left, bottom - top));
    if (m_camera)
        m_camera->setResult(verdict, reason);
}

void CameraRecong::RunTest(QJsonObject region, int /*step*/, cv::Mat& image)
{
    cv::Mat ignore = cv::Mat::zeros(gImageH, gImageW, CV_8UC1);
    QJsonObject params = HubServices::processParams();
    PluginsManager* registry = PluginsManager::getInstance();
    std::vector<std::unique_ptr<RoiInterface>> temporaries;

    const auto preview = [&](RoiInterface* r) {
        ProcessorInterface* detector = r->getProcessor();
        if (!detector)
            return;
        detector->initSystemParam(params);
        cv::Mat view = viewAt(image, r->getImageRect());
        detector->paramChange(r, view, ignore);
    };

    if (region.contains(QStringLiteral("ignore_rois"))) {
        const QJsonArray ignored = region.value(QStringLiteral("ignore_rois")).toArray();
        for (const QJsonValue& value : ignored) {
            const QJsonObject element = value.toObject();
            std::unique_ptr<RoiInterface> temporary =
                registry->createNewRoi(element.value(QStringLiteral("roi_type")).toString(), m_camera, element);
            if (!temporary)
                continue;
            preview(temporary.get());
            temporaries.push_back(std::move(temporary));
        }
    }
    std::unique_ptr<RoiInterface> tested =
        registry->createNewRoi(region.value(QStringLiteral("roi_type")).toString(), m_camera, region);
    if (tested)
        preview(tested.get());
}

RoiHandles CameraRecong::execSequence(int step) const
{
    return stepValid(step) ? m_execSequence[size_t(step)] : RoiHandles();
}

RoiHandles CameraRecong::locationList(int step) const
{
    return stepValid(step) ? m_locationList[size_t(step)] : RoiHandles();
}

RoiInterface* CameraRecong::automaticLocation(int step) const
{
    return stepValid(step) ? m_autoLocation[size_t(step)].get() : nullptr;
}
