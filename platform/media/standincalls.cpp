#include "platform/media/standincalls.h"

#include <map>
#include <mutex>

namespace platform {
namespace {

struct State {
    std::mutex mutex;
    std::map<std::string, int> failures;
    std::vector<std::string> trace;
};

State& state()
{
    static State* s = new State;  // used until the last thread ends
    return *s;
}

constexpr size_t kTraceLimit = 4096;  // a runaway caller cannot grow it for ever

}  // namespace

void StandInCalls::failCall(const std::string& name, int result)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().failures[name] = result == 0 ? -1 : result;
}

void StandInCalls::clearFailures()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().failures.clear();
}

std::vector<std::string> StandInCalls::trace()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().trace;
}

void StandInCalls::clearTrace()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().trace.clear();
}

int StandInCalls::enter(const char* name, bool traced)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (traced && s.trace.size() < kTraceLimit)
        s.trace.emplace_back(name);
    const auto it = s.failures.find(name);
    return it == s.failures.end() ? 0 : it->second;
}

}  // namespace platform
