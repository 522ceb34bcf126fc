#include "inspection/alarmimagesink.h"

#include <atomic>

namespace {
std::atomic<AlarmImageSink*> gAlarmImageSink{nullptr};
}

AlarmImageSink::~AlarmImageSink() = default;

AlarmImageSink* AlarmImageSink::instance()
{
    return gAlarmImageSink.load();
}

void AlarmImageSink::setInstance(AlarmImageSink* sink)
{
    gAlarmImageSink.store(sink);
}
