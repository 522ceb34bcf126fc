#include "inspection/pluginsmanager.h"

#include "inspection/customcircle.h"
#include "inspection/custompolygon.h"
#include "inspection/customrect.h"
#include "inspection/flawdetect.h"
#include "inspection/ignoredetect.h"
#include "inspection/locationdetect.h"
#include "inspection/spotdetect.h"

#include <mutex>

PluginsManager* PluginsManager::instance = nullptr;

PluginsManager::PluginsManager() = default;

PluginsManager::~PluginsManager() = default;

PluginsManager* PluginsManager::getInstance()
{
    // Start-up fills the registry before any other thread exists; the guard
    // only keeps a first use from a test or tool from racing itself.
    static std::once_flag once;
    std::call_once(once, [] {
        if (!instance)
            instance = new PluginsManager;  // lives until the process ends
        instance->loadPlugins();
    });
    return instance;
}

void PluginsManager::loadPlugins()
{
    std::unique_ptr<RoiInterface> shapes[] = {std::make_unique<CustomRect>(),
                                              std::make_unique<CustomPolygon>(),
                                              std::make_unique<CustomCircle>()};
    for (auto& shape : shapes) {
        if (!shapeTypes().contains(shape->getRoiType()))
            m_shapes.push_back(std::move(shape));
    }
    std::unique_ptr<ProcessorInterface> processors[] = {
        std::make_unique<SpotDetect>(), std::make_unique<FlawDetect>(),
        std::make_unique<IgnoreDetect>(), std::make_unique<LocationDetect>()};
    for (auto& processor : processors) {
        if (!processorNames().contains(processor->getName()))
            m_processors.push_back(std::move(processor));
    }
}

bool PluginsManager::addProcessor(std::unique_ptr<ProcessorInterface> prototype)
{
    if (!prototype || processorNames().contains(prototype->getName()))
        return false;
    m_processors.push_back(std::move(prototype));
    return true;
}

std::unique_ptr<RoiInterface> PluginsManager::createNewRoi(const QString& type, RoiCameraAccess* camera,
                                                           const QJsonObject& json) const
{
    for (const auto& shape : m_shapes) {
        if (shape->getRoiType() == type) {
            std::unique_ptr<RoiInterface> region = shape->createNewROI(camera, false);
            if (region)
                region->initFromJson(json);
            return region;
        }
    }
    return nullptr;
}

std::unique_ptr<ProcessorInterface> PluginsManager::creatorNewProcessor(const QString& name) const
{
    if (m_processors.empty())
        return nullptr;
    if (name.isEmpty())
        return m_processors.front()->createNewObj();
    if (ProcessorInterface* prototype = getProcessor(name))
        return prototype->createNewObj();
    return nullptr;
}

ProcessorInterface* PluginsManager::getProcessor(const QString& name) const
{
    for (const auto& processor : m_processors) {
        if (processor->getName() == name)
            return processor.get();
    }
    return nullptr;
}

QStringList PluginsManager::shapeTypes() const
{
    QStringList types;
    for (const auto& shape : m_shapes)
        types << shape->getRoiType();
    return types;
}

QStringList PluginsManager::processorNames() const
{
    QStringList names;
    for (const auto& processor : m_processors)
        names << processor->getName();
    return names;
}
