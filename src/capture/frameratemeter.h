#pragma once
// Turns the capture thread's frame counter (gFPS_Times) into the frame rate
// gFPS: each tick takes the counter's growth since the previous tick (a
// counter that went backwards counts as no growth) over the seconds between
// the two ticks, truncated to a whole number.
//
// The program ticks it every 3 s from the main thread. The first tick only
// takes the starting point, so gFPS stays 0 (no fresh frames assumed) until
// one whole period has been measured.
#include <QtGlobal>

#include <cstdint>

class FrameRateMeter {
public:
    // The rate for `growth` frames over `elapsedMs` milliseconds; 0 for no
    // time or a negative growth.
    static int framesPerSecond(int64_t growth, qint64 elapsedMs);

    // Reads gFPS_Times at `nowMs` (monotonic milliseconds), stores the new
    // rate in gFPS and returns it (-1 on the first tick, gFPS untouched).
    int tick(qint64 nowMs);

private:
    bool m_started = false;
    int32_t m_lastCount = 0;
    qint64 m_lastMs = 0;
};
