#include "rtsp/rtsp_demo.h"

#include "rtsp/rtsp_log.h"

#include <cstdlib>
#include <ctime>
#include <sys/time.h>

int rtsp_demo_port_from_environment()
{
    const char* text = std::getenv("ORVALE_RTSP_PORT");
    if (!text || !*text)
        return 554;
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    if (*end != '\0' || port < 1 || port > 65535) {
        RTSP_WARN("ORVALE_RTSP_PORT \"%s\" is not a port from 1 to 65535, using 554\n", text);
        return 554;
    }
    return int(port);
}

rtsp_demo_handle create_rtsp_demo(int port) { return rtsp_new_demo(port); }
rtsp_demo_handle rtsp_new_demo(int) { return nullptr; }
void rtsp_del_demo(rtsp_demo_handle) {}
rtsp_session_handle rtsp_new_session(rtsp_demo_handle, const char*) { return nullptr; }
rtsp_session_handle create_rtsp_session(rtsp_demo_handle, const char*) { return nullptr; }
void rtsp_del_session(rtsp_session_handle) {}
int rtsp_set_video(rtsp_session_handle, int, const uint8_t*, int) { return -1; }
int rtsp_sync_video_ts(rtsp_session_handle, uint64_t, uint64_t) { return -1; }
int rtsp_tx_video(rtsp_session_handle, const uint8_t*, int, uint64_t) { return -1; }
int rtsp_sever_tx_video(rtsp_demo_handle, rtsp_session_handle s, const uint8_t* f, int l, uint64_t ts)
{
    return rtsp_tx_video(s, f, l, ts);
}
int rtsp_do_event(rtsp_demo_handle) { return -1; }

uint64_t rtsp_get_reltime()
{
    struct timespec tp;
    clock_gettime(CLOCK_MONOTONIC, &tp);
    return uint64_t(tp.tv_sec) * 1000000ULL + uint64_t(tp.tv_nsec) / 1000;
}

uint64_t rtsp_get_abstime()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return uint64_t(tv.tv_sec) * 1000000ULL + uint64_t(tv.tv_usec);
}

uint64_t rtsp_get_ntptime()
{
    return rtsp_get_abstime() + 2208988800ULL * 1000000ULL;
}
