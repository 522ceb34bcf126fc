#include "capture/capturesettings.h"

#include <mutex>

namespace capture {
namespace {

std::mutex g_mutex;
std::function<bool()>& source()
{
    static std::function<bool()> f;
    return f;
}

}  // namespace

bool numFailDetect_4()
{
    std::function<bool()> f;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        f = source();
    }
    return f ? f() : false;
}

void setNumFailDetect4Source(std::function<bool()> source_)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    source() = std::move(source_);
}

}  // namespace capture
