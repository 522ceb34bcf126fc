#include "inspection/camera.h"

#include "foundation/logmanager.h"
#include "inspection/cameraimage.h"
#include "inspection/camerastoreservices.h"
#include "inspection/cammerrecongnize.h"
#include "inspection/cammersingleton.h"
#include "inspection/flawdetect.h"
#include "inspection/hubservices.h"
#include "inspection/pluginsmanager.h"
#include "inspection/processorinterface.h"
#include "inspection/regionform.h"
#include "capture/aiqcontrol.h"

#include <QDebug>

#include <algorithm>

namespace {

constexpr char kMasterName[] = "template00.bmp";

bool paramFlag(const QJsonObject& params, const char* key)
{
    const QJsonValue value = params.value(QLatin1String(key));
    if (value.isBool())
        return value.toBool();
    if (value.isDouble())
        return value.toDouble() != 0.0;
    return false;
}

}  // namespace

Camera::Camera()
{
    m_singleton = std::make_unique<CameraSingleton>(this, 0);
    m_singleton->LoadDtafromDB();
    m_image = std::make_unique<CameraImage>(m_singleton.get());
    m_image->initImage();
    m_recong = std::make_unique<CameraRecong>(m_singleton.get(), this);
    warnStepsWithoutInspection();
    open();
    startPlay();
}

Camera::~Camera() = default;

// --- image signal processor ---------------------------------------------------------

void Camera::setParam()
{
    AiqControl* isp = gAiqControl;
    if (!isp || !m_singleton)
        return;
    const CameraImageParams& p = m_singleton->cameraParams();
    // Result codes are of no use here: a setter that fails leaves the ISP
    // as it was, and the next application of the parameters tries again.
    isp->aiq_control_setManualExp(float(p.gain), float(p.exposure) / 1000.0f);
    isp->aiq_control_setSharpness(static_cast<unsigned int>(p.sharpness));
    isp->aiq_control_setGamma(p.gamma);
    isp->aiq_control_setContrast(static_cast<unsigned int>(p.trueness));
    isp->aiq_control_setMirror(p.c_flipverical, p.c_filphorizontal);
}

int Camera::startPlay()
{
    setParam();
    return 0;
}

// --- regions ---------------------------------------------------------------------------

QJsonArray Camera::getallROIs() const
{
    QJsonArray all;
    m_singleton->getAllROIs(all);
    return all;
}

void Camera::modifySingleROI(QJsonObject roi, cv::Mat& mask, QJsonObject& result)
{
    mask = cv::Mat::zeros(gImageH, gImageW, CV_8UC1);
    const int detect = jsonWholeNumber(roi.value(QStringLiteral("detect_index")));
    QString name = roi.value(QStringLiteral("template")).toString();
    if (!m_image->hasTemplate(detect, name)) {
        // A missing or unknown name would preview on no template at all.
        QString fallback = QLatin1String(kMasterName);
        const QStringList names = m_image->hasTemplate(detect, fallback) ? QStringList() : m_image->getTemplateNamelist(detect);
        if (!names.isEmpty())
            fallback = names.first();
        qInfo().noquote() << QStringLiteral("template \"%1\" is not one of detection %2: previewing on %3")
                                 .arg(name)
                                 .arg(detect + 1)
                                 .arg(fallback);
        name = fallback;
    }
    m_image->updateCurTemplateName(name);
    m_recong->RunTest(roi, 0, mask);
    result.insert(QStringLiteral("func_results"), QJsonArray{0});
}

QString Camera::trialFault(const QJsonObject& roi) const
{
    QString fault = RegionForm::editFault(roi);
    const QJsonArray ignored = roi.value(QStringLiteral("ignore_rois")).toArray();
    for (int i = 0; fault.isEmpty() && i < ignored.size(); ++i) {
        fault = ignored.at(i).isObject() ? RegionForm::editFault(ignored.at(i).toObject())
                                         : QObject::tr("第%1个区域不是JSON对象").arg(i + 1);
    }
    if (fault.isEmpty())
        fault = FlawDetect::filterSizeError(roi);
    if (!fault.isEmpty())
        return fault;
    // The region with the ignore regions it is tried with, as a step.
    QJsonObject systemParams = HubServices::processParams();
    PluginsManager* registry = PluginsManager::getInstance();
    std::vector<std::unique_ptr<RoiInterface>> regions;
    RoiHandles step;
    QJsonArray elements = ignored;
    elements.append(roi);
    for (const QJsonValue& value : qAsConst(elements)) {
        const QJsonObject element = value.toObject();
        std::unique_ptr<RoiInterface> region = registry->createNewRoi(
            element.value(QStringLiteral("roi_type")).toString(), const_cast<Camera*>(this), element);
        if (!region)
            continue;
        if (ProcessorInterface* detector = region->getProcessor())
            detector->initSystemParam(systemParams);
        step.append(region.get());
        regions.push_back(std::move(region));
    }
    return CameraRecong::unreachableInEdit(step);
}

bool Camera::modifySingleton(QJsonArray rois, QString* reason)
{
    const auto refuse = [reason](const QString& why) {
        qCWarning(level_1).noquote() << QStringLiteral("new region set refused:") << why;
        if (reason)
            *reason = why;
        return false;
    };
    if (!m_singleton->takesRegionSet())
        return refuse(QObject::tr("parameters not loaded"));
    const int stepsInUse = std::clamp(int(gDNum), 0, int(CameraRecong::kSteps));
    for (int i = 0; i < rois.size(); ++i) {
        if (!rois.at(i).isObject())
            return refuse(QObject::tr("第%1个区域不是JSON对象").arg(i + 1));
        const QJsonObject element = rois.at(i).toObject();
        QString fault = RegionForm::editFault(element);
        // A region of a step beyond those in use may only come back as it
        // is stored (kept as read, maybe), which changeBeyondStepsInUse
        // checks below; only its step number must be one.
        if (!fault.isEmpty() && jsonWholeNumber(element.value(QStringLiteral("detect_index"))) >= stepsInUse
            && RegionForm::stepNumberFault(element).isEmpty())
            fault.clear();
        if (fault.isEmpty())
            fault = FlawDetect::filterSizeError(element);
        if (!fault.isEmpty())
            return refuse(fault);
    }
    const QString beyond = m_singleton->changeBeyondStepsInUse(rois);
    if (!beyond.isEmpty())
        return refuse(beyond);
    const RoiSteps newSet = m_singleton->genRoisFromJson(rois);
    for (const RoiList& step : newSet) {
        for (const auto& region : step) {
            if (region->isUnknownType()) {
                return refuse(QObject::tr("%1号检测%2号区域的形状或功能无法识别")
                                  .arg(region->getDetectIndex() + 1)
                                  .arg(region->getRoiIndex() + 1));
            }
            const QString name = region->getProcessorName();
            const bool judgesPixels = name == QLatin1String("spot") || name == QLatin1String("flaw");
            if (judgesPixels && ProcessorInterface::regionUsable(region.get())
                && !ProcessorInterface::regionInspectable(region.get()))
                return refuse(ProcessorInterface::emptyMaskText(region.get()));
        }
        RoiHandles handles;
        for (const auto& region : step)
            handles.append(region.get());
        const QString unreachable = CameraRecong::unreachableInEdit(handles);
        if (!unreachable.isEmpty())
            return refuse(unreachable);
    }
    const QStringList changes = m_singleton->compareRois(newSet);
    for (const QString& text : changes)
        HubServices::record(text, QStringLiteral("operate"));
    // While a broken row is kept aside even an unchanged (empty) set is
    // applied: it ends the outage.
    if (changes.isEmpty() && m_singleton->isLoaded())
        return true;

    if (!m_singleton->setAllROIs(rois))
        return refuse(QObject::tr("parameters not loaded"));
    const QJsonObject params = HubServices::processParams();
    if (paramFlag(params, "s_with_moulding_product") && paramFlag(params, "s_action_productdetect"))
        m_singleton->paramSynac(1, 0);
    const bool saved = m_singleton->SaveDatatoDB();
    InitCameraRecongnize();
    warnStepsWithoutInspection();
    if (!saved && reason)
        *reason = QObject::tr("参数保存失败");
    return saved;
}

void Camera::CopyPara()
{
    m_singleton->paramSynac(1, 0);
    // Step 1's regions were replaced: its run order must not point at the
    // released ones.
    m_recong->init(1);
    warnStepsWithoutInspection();
}

void Camera::warnStepsWithoutInspection() const
{
    // Without its parameters every detection is judged NG anyway.
    if (!m_singleton->isLoaded())
        return;
    const int steps = std::clamp(int(gDNum), 0, int(CameraRecong::kSteps));
    for (int d = 0; d < steps; ++d) {
        if (CameraRecong::stepEnabled(d) && !m_recong->inspectsAnything(d))
            qCWarning(level_1).noquote()
                << QStringLiteral("detection %1 has no region that inspects: its cycles pass without inspection").arg(d + 1);
    }
}

void Camera::InitCameraRecongnize()
{
    const int steps = std::clamp(int(gDNum), 0, int(CameraRecong::kSteps));
    for (int d = 0; d < steps; ++d)
        m_recong->init(d);
}

void Camera::finishRoiset()
{
    if (m_regionsChanged.exchange(false))
        InitCameraRecongnize();
}

void Camera::SaveImageMem(int detect, bool ng)
{
    m_image->SaveImageMem(detect, ng);
}

// --- what the regions read -----------------------------------------------------------

cv::Mat Camera::ignoreMask(int detect)
{
    return m_singleton ? m_singleton->getIgnoreMask(detect) : cv::Mat();
}

cv::Mat Camera::currentTemplate(int detect)
{
    return m_image ? m_image->getCurTemplate(detect) : cv::Mat();
}

cv::Mat Camera::templateImage(int detect, int index)
{
    return m_image ? m_image->getTemplateData(detect, index) : cv::Mat();
}

cv::Mat Camera::firstTemplate(int detect)
{
    return m_image ? m_image->getFirstTemplate(detect) : cv::Mat();
}

int Camera::templateCount(int detect)
{
    return m_image ? m_image->getTemplateCount(detect) : 0;
}

cv::Mat Camera::runImage()
{
    return m_image ? m_image->getShpaeImage() : cv::Mat();
}
