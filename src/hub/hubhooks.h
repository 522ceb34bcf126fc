#pragma once
// What the hub asks of the application manager: rebuilding the flow after a
// parameter change and pushing a saved alarm image to the subscribers. The
// manager implements these and publishes them with setInstance; until then
// the hub logs what it would have asked and goes on.
#include <QString>

class FlowRebuild {
public:
    virtual ~FlowRebuild();
    // Rebuilds and instantiates the flow framework for a product model
    // (0 standard, 1 two-colour, 2 turntable). Called on the main thread.
    virtual void rebuildFlow(int productModel) = 0;

    // Not owned; null until the manager sets it.
    static FlowRebuild* instance();
    static void setInstance(FlowRebuild* rebuild);
};

class PicturePush {
public:
    virtual ~PicturePush();
    // Pushes the JPEG at `path` to the picture subscribers. Called on the
    // alarm-image writer's thread after each successful save; must not block.
    virtual void PushMsg2Subscriber_PictureResult(int detect, bool ok, const QString& path,
                                                  const QString& businessId) = 0;

    // Not owned; null until the manager sets it.
    static PicturePush* instance();
    static void setInstance(PicturePush* push);
};
