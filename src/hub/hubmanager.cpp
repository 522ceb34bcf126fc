#include "hub/hubmanager.h"

#include <atomic>

namespace {
std::atomic<HubManager*> gHubManager{nullptr};
}  // namespace

HubFlow::~HubFlow() = default;
HubManager::~HubManager() = default;

HubManager* HubManager::instance()
{
    return gHubManager.load();
}

void HubManager::setInstance(HubManager* manager)
{
    gHubManager.store(manager);
}
