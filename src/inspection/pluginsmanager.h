#pragma once
// The process-wide registry that turns the type names of stored regions into
// objects: region shapes by "roi_type" ("rect", "polygon", "circle") and
// detectors by "func_type" ("spot", "flaw", "ignore", "location").
//
// It holds one prototype of every shape and detector (owned by the registry,
// never taking part in a detection) and makes new objects from them; what it
// makes belongs to the caller. Filled once during start-up, before any
// camera exists, and only read afterwards: no lock.
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class ProcessorInterface;
class RoiCameraAccess;
class RoiInterface;

class PluginsManager {
public:
    PluginsManager();
    ~PluginsManager();
    PluginsManager(const PluginsManager&) = delete;
    PluginsManager& operator=(const PluginsManager&) = delete;

    // The process-wide registry; null until first use. Start-up and every
    // user go through getInstance(), which creates and fills it on first use;
    // it lives until the process ends.
    static PluginsManager* instance;
    static PluginsManager* getInstance();

    // Registers the prototypes in this order: shapes "rect", "polygon",
    // "circle"; detectors "spot", "flaw", "ignore", "location". A name that
    // is already registered is not registered twice, so calling it again
    // changes nothing.
    void loadPlugins();

    // A new region of the shape named `type` (exact, case-sensitive) on
    // `camera`, read from `json`; null when no shape has that name (an empty
    // type included).
    std::unique_ptr<RoiInterface> createNewRoi(const QString& type, RoiCameraAccess* camera,
                                               const QJsonObject& json) const;

    // A new detector with default parameters: an empty name gives the first
    // registered detector (the spot detector); otherwise the detector named
    // `name` (exact, case-sensitive), or null when none has that name or the
    // registry holds no detector.
    std::unique_ptr<ProcessorInterface> creatorNewProcessor(const QString& name) const;

    // Registers one more detector prototype after the built-in ones; a name
    // already registered keeps its prototype (false).
    bool addProcessor(std::unique_ptr<ProcessorInterface> prototype);

    // The registered detector prototype itself (not a copy), or null.
    ProcessorInterface* getProcessor(const QString& name) const;

    // Registered names, in registration order.
    QStringList shapeTypes() const;
    QStringList processorNames() const;

private:
    std::vector<std::unique_ptr<RoiInterface>> m_shapes;
    std::vector<std::unique_ptr<ProcessorInterface>> m_processors;
};
