#include "hub/hubhooks.h"

#include <atomic>

namespace {
std::atomic<FlowRebuild*> gFlowRebuild{nullptr};
std::atomic<PicturePush*> gPicturePush{nullptr};
}  // namespace

FlowRebuild::~FlowRebuild() = default;

FlowRebuild* FlowRebuild::instance()
{
    return gFlowRebuild.load();
}

void FlowRebuild::setInstance(FlowRebuild* rebuild)
{
    gFlowRebuild.store(rebuild);
}

PicturePush::~PicturePush() = default;

PicturePush* PicturePush::instance()
{
    return gPicturePush.load();
}

void PicturePush::setInstance(PicturePush* push)
{
    gPicturePush.store(push);
}
