#pragma once
// What the inspection engine reads of the application hub: the frame and
// display geometry, the process parameters and the operator/system record.
// The hub implements HubServices and publishes itself with setInstance
// before it creates any camera; until then the engine reads no parameters
// and drops its records (with a log line).
#include <QJsonObject>
#include <QString>

#include <cstdint>

// Frame width, height and pixel count (1920, 1080, 2,073,600); the hub sets
// them before the camera exists.
extern int32_t gImageW;
extern int32_t gImageH;
extern int32_t gImageLen;
// Display width and height (1920, 1080); the coordinate and rectangle clamps
// keep values within [3, width - 3] and [3, height - 3] of them.
extern int32_t gShowW;
extern int32_t gShowH;

class HubServices {
public:
    virtual ~HubServices();

    // Writes every process parameter into out under its key ("s_", "c_",
    // "i_" and "h_" keys).
    virtual void GetParams(QJsonObject& out) const = 0;
    // Appends one record of the given type ("system", "operate"); may be
    // called from any thread; failures are not reported.
    virtual void InsertRecord(const QString& text, const QString& type) = 0;

    // The process-wide hub services; null until the hub has set them. The
    // pointer is not owned: whoever sets it keeps the object alive until it
    // clears it again (setInstance(nullptr)).
    static HubServices* instance();
    static void setInstance(HubServices* services);

    // Convenience for the engine: the process parameters (empty without a
    // hub), and a record that is logged when there is no hub to take it.
    static QJsonObject processParams();
    static void record(const QString& text, const QString& type);
};
