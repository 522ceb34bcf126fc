#include "inspection/hubservices.h"
#include "foundation/logmanager.h"

#include <QDebug>

#include <atomic>

int32_t gImageW = 1920;
int32_t gImageH = 1080;
int32_t gImageLen = 1920 * 1080;
int32_t gShowW = 1920;
int32_t gShowH = 1080;

namespace {
std::atomic<HubServices*> gHubServices{nullptr};
}

HubServices::~HubServices() = default;

HubServices* HubServices::instance()
{
    return gHubServices.load();
}

void HubServices::setInstance(HubServices* services)
{
    gHubServices.store(services);
}

QJsonObject HubServices::processParams()
{
    QJsonObject params;
    if (HubServices* hub = instance())
        hub->GetParams(params);
    return params;
}

void HubServices::record(const QString& text, const QString& type)
{
    if (HubServices* hub = instance()) {
        hub->InsertRecord(text, type);
        return;
    }
    qCWarning(level_1).noquote() << "no hub to take the" << type << "record:" << text;
}
