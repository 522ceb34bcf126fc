#include "inspection/cammersingleton.h"

#include "foundation/logmanager.h"
#include "inspection/camerastoreservices.h"
#include "inspection/hubservices.h"
#include "inspection/legacymigration.h"
#include "inspection/pluginsmanager.h"
#include "inspection/processorinterface.h"
#include "inspection/roi.h"
#include "inspection/roichangereport.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace {

// The detection steps of a camera never exceed this; gDNum is kept inside it.
constexpr int kMaxSteps = 4;

int stepsInUse()
{
    return std::clamp(int(gDNum), 0, kMaxSteps);
}

}  // namespace

CameraSingleton::CameraSingleton(RoiCameraAccess* camera, int cameraNo, QObject* parent)
    : QObject(parent), m_cameraNo(cameraNo), m_camera(camera)
{
}

CameraSingleton::~CameraSingleton()
{
    for (int s = int(m_rois.size()) - 1; s >= 0; --s)
        releaseStep(s);
}

// --- PARAM.db --------------------------------------------------------------------

bool CameraSingleton::readRow(std::optional<QString>& text) const
{
    text.reset();
    QSqlQuery q(paramDatabase());
    const bool prepared = q.prepare(QStringLiteral("select value from cameraparam where name=?"));
    q.addBindValue(QStringLiteral("camera%1").arg(m_cameraNo));
    if (!prepared || !q.exec()) {
        qCWarning(level_1) << "reading camera parameters failed:" << q.lastError().text();
        return false;
    }
    if (q.next())
        text = q.value(0).toString();
    return true;
}

bool CameraSingleton::keepBrokenRow(const QString& text) const
{
    QSqlDatabase db = paramDatabase();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS cameraparam_broken "
                               "(name TEXT NOT NULL, value TEXT, keptat TEXT)"))) {
        qCWarning(level_1) << "cannot create cameraparam_broken:" << q.lastError().text();
        return false;
    }
    const QString name = QStringLiteral("camera%1").arg(m_cameraNo);
    // A row kept at an earlier start is not kept twice.
    q.prepare(QStringLiteral("select count(*) from cameraparam_broken where name=? and value=?"));
    q.addBindValue(name);
    q.addBindValue(text);
    if (q.exec() && q.next() && q.value(0).toInt() > 0)
        return true;
    const bool prepared =
        q.prepare(QStringLiteral("insert into cameraparam_broken (name, value, keptat) values (?, ?, ?)"));
    q.addBindValue(name);
    q.addBindValue(text);
    q.addBindValue(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (!prepared || !q.exec()) {
        qCWarning(level_1) << "cannot keep the broken" << name << "row:" << q.lastError().text();
        return false;
    }
    return true;
}

bool CameraSingleton::LoadDtafromDB()
{
    m_loaded = false;
    m_brokenRowKept = false;
    const QString rowName = QStringLiteral("camera%1").arg(m_cameraNo);
    std::optional<QString> row;
    {
        QSqlQuery q(paramDatabase());
        if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"))) {
            qCWarning(level_1) << "Query execution error:" << q.lastError().text();
            return false;
        }
        q.finish();
        if (!q.exec(QStringLiteral(
                "CREATE TABLE IF NOT EXISTS cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)"))) {
            qCWarning(level_1) << "Failed to create table:" << q.lastError().text();
            return false;
        }
        if (!readRow(row))
            return false;  // the row may exist: never migrate or save over it
        if (!row) {
            q.prepare(QStringLiteral("insert or ignore into cameraparam (name, value) values (?, '')"));
            q.addBindValue(rowName);
            // A failed insert is of no consequence: the save below writes the
            // row whole.
            q.exec();
        }
    }
    QString text = row.value_or(QString());

    // From here the store holds what PARAM.db says, and may write it.
    m_loaded = true;
    if (text.isEmpty()) {
        LoadDatafromFile();
        LoadCameraParam();
        // A failed save shows in the read-back below.
        SaveDatatoDB();
        std::optional<QString> saved;
        if (readRow(saved) && saved)
            text = *saved;
        if (text.isEmpty())
            qCInfo(level_1) << QStringLiteral("camera%1 laod params fail").arg(m_cameraNo);
    }

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (!text.isEmpty() && !doc.isObject()) {
        // Which regions the camera should inspect is unknown: nothing is
        // judged OK until the operator application sends a region set.
        m_loaded = false;
        growTo(stepsInUse());
        qCWarning(level_1).noquote() << QStringLiteral("%1 in cameraparam is not a JSON object (%2 at %3): "
                                                       "not loaded, every detection is judged NG")
                                            .arg(rowName, error.errorString())
                                            .arg(error.offset);
        m_brokenRowKept = keepBrokenRow(text);
        if (!m_brokenRowKept) {
            // The broken row is the only copy of the camera's regions: never
            // overwrite it.
            qCWarning(level_1).noquote() << QStringLiteral("%1 could not be kept aside; region edits and saves are refused")
                                                .arg(rowName);
        } else {
            qCWarning(level_1).noquote() << QStringLiteral("%1 kept as it was in cameraparam_broken; a new region set "
                                                           "from the operator application replaces it")
                                                .arg(rowName);
        }
        return false;
    }
    const QJsonObject object = doc.object();
    if (object.contains(QStringLiteral("rois")) && !object.value(QStringLiteral("rois")).isArray()) {
        // The regions cannot be read: the row is left as it is, and without
        // its regions the camera must not judge anything.
        qCWarning(level_1).noquote() << QStringLiteral("%1 in cameraparam holds \"rois\" that is not an array: "
                                                       "not loaded, region edits and saves are refused")
                                            .arg(rowName);
        m_loaded = false;
        return false;
    }

    growTo(stepsInUse());
    if (object.contains(QStringLiteral("index")))
        gCamareIndex = jsonWholeNumber(object.value(QStringLiteral("index")));
    if (object.contains(QStringLiteral("rois"))) {
        const QJsonArray rois = object.value(QStringLiteral("rois")).toArray();
        for (int s = 0; s < int(m_rois.size()); ++s)
            releaseStep(s);
        placeRegions(rois, m_rois);
    }
    if (object.contains(QStringLiteral("camerainterface")))
        setCameraParam(object.value(QStringLiteral("camerainterface")).toObject());
    return m_loaded;
}

bool CameraSingleton::SaveDatatoDB()
{
    const QString rowName = QStringLiteral("camera%1").arg(m_cameraNo);
    if (!m_loaded) {
        qCWarning(level_1).noquote() << QStringLiteral("%1 was not loaded from PARAM.db; not saving over it").arg(rowName);
        return false;
    }
    QJsonArray rois;
    getAllROIs(rois);
    QJsonObject params;
    getCameraParam(params);
    const QJsonObject document{{QStringLiteral("index"), int(gCamareIndex)},
                               {QStringLiteral("rois"), rois},
                               {QStringLiteral("camerainterface"), params}};
    const QString text = QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented));

    QSqlDatabase db = paramDatabase();
    if (!db.transaction()) {
        qCWarning(level_1) << "saving" << rowName << "failed: no transaction:" << db.lastError().text();
        return false;
    }
    bool ok = false;
    {
        QSqlQuery q(db);
        ok = q.prepare(QStringLiteral("insert or replace into cameraparam (name, value) values (?, ?)"));
        q.addBindValue(rowName);
        q.addBindValue(text);
        ok = ok && q.exec();
        if (!ok)
            qCWarning(level_1) << "saving" << rowName << "failed:" << q.lastError().text();
    }
    if (ok && !db.commit()) {
        qCWarning(level_1) << "saving" << rowName << "failed on commit:" << db.lastError().text();
        ok = false;
    }
    if (!ok)
        db.rollback();
    return ok;
}

// --- image parameters --------------------------------------------------------------

void CameraSingleton::getCameraParam(QJsonObject& o) const
{
    m_params.writeJson(o);
}

void CameraSingleton::setCameraParam(QJsonObject o)
{
    m_params = CameraImageParams::fromJson(o);
}

bool CameraSingleton::setCameraParamChecked(const QJsonObject& o, QString* error)
{
    const CameraImageParams candidate = CameraImageParams::fromJson(o);
    const QString fault = candidate.rangeError();
    if (!fault.isEmpty()) {
        qCWarning(level_1).noquote() << QStringLiteral("camera%1 parameters refused: %2").arg(m_cameraNo).arg(fault);
        if (error)
            *error = fault;
        return false;
    }
    m_params = candidate;
    return true;
}

void CameraSingleton::ResetCameraParam()
{
    m_params = CameraImageParams();
}

void CameraSingleton::CheckParamRange()
{
    m_params.checkRange();
}

// --- regions ---------------------------------------------------------------------

std::unique_ptr<RoiInterface> CameraSingleton::makeRegion(const QJsonObject& element, QJsonObject& systemParams) const
{
    const QString type = element.value(QStringLiteral("roi_type")).toString();
    std::unique_ptr<RoiInterface> region = PluginsManager::getInstance()->createNewRoi(type, m_camera, element);
    if (!region && !type.isEmpty()) {
        // A shape this program does not know (written by a newer one): kept
        // as read (and logged by the region), so that saving does not lose
        // it; it is never inspected.
        region = ROI::createUnknownShape(m_camera, element);
    }
    if (!region)
        return nullptr;
    if (ProcessorInterface* detector = region->getProcessor())
        detector->initSystemParam(systemParams);
    return region;
}

void CameraSingleton::placeRegions(const QJsonArray& rois, RoiSteps& steps) const
{
    QJsonObject systemParams = HubServices::processParams();
    for (const QJsonValue& value : rois) {
        const QJsonObject element = value.toObject();
        const int detect = jsonWholeNumber(element.value(QStringLiteral("detect_index")));
        if (detect < 0 || detect >= int(steps.size()))
            continue;
        if (std::unique_ptr<RoiInterface> region = makeRegion(element, systemParams))
            steps[size_t(detect)].push_back(std::move(region));
    }
}

void CameraSingleton::releaseStep(int step)
{
    if (step < 0 || step >= int(m_rois.size()))
        return;
    RoiList& list = m_rois[size_t(step)];
    while (!list.empty())
        list.pop_back();
}

void CameraSingleton::growTo(int steps)
{
    if (int(m_rois.size()) < steps)
        m_rois.resize(size_t(steps));
}

bool CameraSingleton::editAllowed(const char* what) const
{
    if (m_loaded)
        return true;
    qCWarning(level_1).noquote() << QStringLiteral("camera%1: %2 refused, the parameters were not loaded from PARAM.db")
                                .arg(m_cameraNo)
                                .arg(QLatin1String(what));
    return false;
}

void CameraSingleton::getAllROIs(QJsonArray& out) const
{
    for (const RoiList& step : m_rois) {
        for (const auto& region : step) {
            QJsonObject o;
            region->saveToJson(o);
            out.append(o);
        }
    }
}

QVector<RoiHandles> CameraSingleton::getAllRois() const
{
    QVector<RoiHandles> all;
    for (int s = 0; s < int(m_rois.size()); ++s)
        all.append(getRois(s));
    return all;
}

RoiHandles CameraSingleton::getRois(int step) const
{
    RoiHandles handles;
    if (step < 0 || step >= int(m_rois.size()))
        return handles;
    for (const auto& region : m_rois[size_t(step)])
        handles.append(region.get());
    return handles;
}

bool CameraSingleton::setAllROIs(QJsonArray& rois)
{
    if (!m_loaded && m_brokenRowKept) {
        // The broken row is kept aside: the new set ends the outage.
        qCWarning(level_1).noquote()
            << QStringLiteral("camera%1: a new region set replaces the row kept in cameraparam_broken").arg(m_cameraNo);
        m_loaded = true;
        m_brokenRowKept = false;
    }
    if (!editAllowed("replacing the regions"))
        return false;
    growTo(stepsInUse());
    for (int s = 0; s < int(m_rois.size()); ++s)
        releaseStep(s);
    placeRegions(rois, m_rois);
    return true;
}

RoiSteps CameraSingleton::genRoisFromJson(QJsonArray& rois) const
{
    RoiSteps steps(static_cast<size_t>(stepsInUse()));
    placeRegions(rois, steps);
    return steps;
}

bool CameraSingleton::releaseROI(int step)
{
    if (!editAllowed("deleting regions"))
        return false;
    releaseStep(step);
    return true;
}

bool CameraSingleton::paramSynac(int target, int source)
{
    if (!editAllowed("copying regions"))
        return false;
    const int steps = int(m_rois.size());
    if (target < 0 || target >= steps || source < 0 || source >= steps || target == source)
        return true;
    releaseStep(target);
    QJsonObject systemParams = HubServices::processParams();
    for (const auto& region : m_rois[size_t(source)]) {
        std::unique_ptr<RoiInterface> copy = region->createNewROI(m_camera, true);
        if (!copy)
            continue;
        copy->setRoiDetectIndex(target);
        if (ProcessorInterface* detector = copy->getProcessor())
            detector->initSystemParam(systemParams);
        m_rois[size_t(target)].push_back(std::move(copy));
    }
    return true;
}

bool CameraSingleton::setSameParamS()
{
    return paramSynac(1, 0);
}

void CameraSingleton::copyTo(CameraSingleton* other) const
{
    if (!other || other == this)
        return;
    other->m_cameraNo = m_cameraNo;
    for (int s = int(other->m_rois.size()) - 1; s >= 0; --s)
        other->releaseStep(s);
    other->growTo(int(m_rois.size()));
    QJsonObject systemParams = HubServices::processParams();
    for (size_t s = 0; s < m_rois.size(); ++s) {
        for (const auto& region : m_rois[s]) {
            std::unique_ptr<RoiInterface> copy = region->createNewROI(m_camera, true);
            if (!copy)
                continue;
            if (ProcessorInterface* detector = copy->getProcessor())
                detector->initSystemParam(systemParams);
            other->m_rois[s].push_back(std::move(copy));
        }
    }
}

bool CameraSingleton::modifySingleROI(const QJsonObject& roi)
{
    if (!editAllowed("editing a region"))
        return false;
    const int roiIndex = jsonWholeNumber(roi.value(QStringLiteral("roi_index")));
    const int detect = jsonWholeNumber(roi.value(QStringLiteral("detect_index")));
    if (detect < 0 || detect >= int(m_rois.size()))
        return true;
    QJsonObject systemParams = HubServices::processParams();
    RoiList& list = m_rois[size_t(detect)];
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        QJsonObject own;
        (*it)->saveToJson(own);
        if (jsonWholeNumber(own.value(QStringLiteral("roi_index"))) == roiIndex &&
            jsonWholeNumber(own.value(QStringLiteral("detect_index"))) == detect) {
            (*it)->initFromJson(roi);
            if (ProcessorInterface* detector = (*it)->getProcessor())
                detector->initSystemParam(systemParams);
            return true;
        }
    }
    if (std::unique_ptr<RoiInterface> region = makeRegion(roi, systemParams))
        list.push_back(std::move(region));
    return true;
}

void CameraSingleton::resetROIs()
{
    for (RoiList& step : m_rois) {
        for (auto& region : step) {
            region->setResult(true);
            region->setArea(0);
        }
    }
}

void CameraSingleton::setSystemParam(QJsonObject params)
{
    for (RoiList& step : m_rois) {
        for (auto& region : step) {
            if (ProcessorInterface* detector = region->getProcessor())
                detector->initSystemParam(params);
        }
    }
}

void CameraSingleton::roisResult(int step, QJsonArray& out) const
{
    if (step < 0 || step >= int(m_rois.size()))
        return;
    for (const auto& region : m_rois[size_t(step)]) {
        QJsonObject o;
        region->saveToJson(o);
        o.insert(QStringLiteral("title"), region->getResultDescription());
        o.insert(QStringLiteral("result"), region->getResult());
        out.append(o);
    }
}

int CameraSingleton::getResult(int step, int roiIndex) const
{
    if (step < 0 || step >= int(m_rois.size()))
        return -1;
    const RoiList& list = m_rois[size_t(step)];
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        if ((*it)->getRoiIndex() == roiIndex)
            return (*it)->getArea();
    }
    return -1;
}

QStringList CameraSingleton::compareRois(const RoiSteps& newSet) const
{
    if (!takesRegionSet() && !editAllowed("comparing a new region set"))
        return {};
    return describeRoiChanges(m_rois, newSet, m_cameraNo, stepsInUse());
}

QString CameraSingleton::changeBeyondStepsInUse(const QJsonArray& rois) const
{
    const int inUse = stepsInUse();
    QJsonObject systemParams = HubServices::processParams();
    // Both sides as the regions write themselves, step by step.
    QMap<int, QJsonArray> asked;
    for (const QJsonValue& value : rois) {
        const QJsonObject element = value.toObject();
        const int detect = jsonWholeNumber(element.value(QStringLiteral("detect_index")));
        if (detect < inUse)
            continue;
        QJsonObject written = element;
        if (std::unique_ptr<RoiInterface> region = makeRegion(element, systemParams)) {
            written = QJsonObject();
            region->saveToJson(written);
        }
        asked[detect].append(written);
    }
    QMap<int, QJsonArray> stored;
    for (int s = inUse; s < int(m_rois.size()); ++s) {
        for (const auto& region : m_rois[size_t(s)]) {
            QJsonObject written;
            region->saveToJson(written);
            stored[s].append(written);
        }
    }
    QList<int> steps = asked.keys() + stored.keys();
    std::sort(steps.begin(), steps.end());
    for (int step : qAsConst(steps)) {
        const QJsonArray a = asked.value(step);
        const QJsonArray b = stored.value(step);
        if (a == b)
            continue;
        // Named by the first region that differs (sent, else stored).
        int i = 0;
        while (i < a.size() && i < b.size() && a.at(i) == b.at(i))
            ++i;
        const QJsonObject named = (i < a.size() ? a.at(i) : b.at(i)).toObject();
        return QObject::tr("%1号检测%2号区域：\"detect_index\"所指的检测不在使用中（使用中的为1至%3），其区域不能修改")
            .arg(step + 1)
            .arg(jsonWholeNumber(named.value(QStringLiteral("roi_index"))) + 1)
            .arg(inUse);
    }
    return QString();
}

// --- masks -----------------------------------------------------------------------

bool CameraSingleton::ignoreStepValid(int step) const
{
    const int limit = std::max(kMaxSteps, int(m_rois.size()));
    if (step >= 0 && step < limit)
        return true;
    qCWarning(level_1) << "ignore mask of step" << step << "refused: no such detection step";
    return false;
}

void CameraSingleton::resetIgnoreMask(int step)
{
    if (getIgnoreMask(step).empty())
        return;
    m_ignoreMasks[size_t(step)].setTo(0);
}

cv::Mat CameraSingleton::getIgnoreMask(int step)
{
    if (!ignoreStepValid(step))
        return cv::Mat();
    while (step >= int(m_ignoreMasks.size()))
        m_ignoreMasks.push_back(cv::Mat::zeros(gImageH, gImageW, CV_8UC1));
    return m_ignoreMasks[size_t(step)];
}

void CameraSingleton::setResultMask(const cv::Mat& mask, const cv::Rect& scope)
{
    m_resultMask = mask;
    m_maskScope = scope;
}

// --- legacy migration --------------------------------------------------------------

void CameraSingleton::LoadDatafromFile()
{
    QJsonObject systemParams = HubServices::processParams();
    const QVector<QJsonArray> legacy = readLegacyRegions(paramDatabase(), m_cameraNo);
    for (const QJsonArray& step : legacy) {
        RoiList list;
        for (const QJsonValue& value : step) {
            if (std::unique_ptr<RoiInterface> region = makeRegion(value.toObject(), systemParams))
                list.push_back(std::move(region));
        }
        m_rois.push_back(std::move(list));
    }
}

void CameraSingleton::LoadCameraParam()
{
    int32_t index = gCamareIndex;
    readLegacyCameraParams(paramDatabase(), m_params, index);
    gCamareIndex = index;
    CheckParamRange();
}
