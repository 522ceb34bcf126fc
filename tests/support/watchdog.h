#pragma once
// Aborts the test program when a scope does not end within its time: a
// deadlock then fails loudly instead of hanging the run.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace testsupport {

class Watchdog {
public:
    explicit Watchdog(int seconds, const char* what = "scope")
    {
        m_thread = std::thread([this, seconds, what] {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
            while (!m_done.load()) {
                if (std::chrono::steady_clock::now() > end) {
                    std::fprintf(stderr, "watchdog: %s did not end within %d s (deadlock)\n", what, seconds);
                    std::abort();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~Watchdog()
    {
        m_done.store(true);
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace testsupport
