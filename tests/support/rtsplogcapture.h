#pragma once
// Records the RTSP server's log lines while it lives (printing nothing), so
// a test can assert on them. One capture at a time.
#include "rtsp/rtsp_log.h"

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class RtspLogCapture {
public:
    RtspLogCapture() { m_previous = rtsp_set_log_handler(&RtspLogCapture::handler); clear(); }
    ~RtspLogCapture() { rtsp_set_log_handler(m_previous); }
    RtspLogCapture(const RtspLogCapture&) = delete;
    RtspLogCapture& operator=(const RtspLogCapture&) = delete;

    // Lines of `level` or more severe (ERROR < WARN < INFO < DEBUG) that contain `text`.
    std::vector<std::string> matching(const std::string& text, int level = RTSP_LOG_DEBUG) const
    {
        std::lock_guard<std::mutex> lock(mutex());
        std::vector<std::string> out;
        for (const auto& e : store()) {
            if (e.first <= level && e.second.find(text) != std::string::npos)
                out.push_back(e.second);
        }
        return out;
    }
    bool contains(const std::string& text, int level = RTSP_LOG_DEBUG) const { return !matching(text, level).empty(); }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex());
        store().clear();
    }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<std::pair<int, std::string>>& store()
    {
        static std::vector<std::pair<int, std::string>> s;
        return s;
    }
    static void handler(int level, const char* line)
    {
        if (level == RTSP_LOG_DEBUG)
            return;  // request dumps: not asserted on, and too many under fuzzing
        std::lock_guard<std::mutex> lock(mutex());
        store().emplace_back(level, line);
    }
    rtsp_log_handler m_previous = nullptr;
};

}  // namespace testsupport
