#pragma once
// A small RTSP 1.0 server for the live H.264 stream: RTP over UDP or
// interleaved in the RTSP connection, to any number of viewers. It also
// carries H.265 video and an audio track, which the camera does not use.
//
// It has no thread and no lock of its own. After creating the server and its
// session (any thread), the caller makes every further call from one thread:
// per encoded frame, rtsp_tx_video and then one rtsp_do_event pass. Nothing
// blocks: a viewer that cannot keep up loses whole packets, never the
// caller's time.
//
// Functions return an int status, negative on failure, and log with the
// handler of rtsp_log.h.
#include <cstdint>

typedef struct rtsp_demo* rtsp_demo_handle;
typedef struct rtsp_session* rtsp_session_handle;

enum rtsp_codec_id {
    RTSP_CODEC_ID_NONE = 0,
    RTSP_CODEC_ID_VIDEO_H264 = 0x0001,
    RTSP_CODEC_ID_VIDEO_H265 = 0x0002,
    RTSP_CODEC_ID_VIDEO_MPEG4 = 0x0003,
    RTSP_CODEC_ID_AUDIO_G711A = 0x4001,
    RTSP_CODEC_ID_AUDIO_G711U = 0x4002,
    RTSP_CODEC_ID_AUDIO_G726 = 0x4003,
    RTSP_CODEC_ID_AUDIO_AAC = 0x4004,
};

// The server's TCP port: 554, or the value of ORVALE_RTSP_PORT when that
// holds a whole number from 1 to 65535 (anything else is logged and ignored).
int rtsp_demo_port_from_environment();

// Listens on `port` (554 when port < 1) on all IPv4 addresses. Null on failure.
rtsp_demo_handle create_rtsp_demo(int port);
rtsp_demo_handle rtsp_new_demo(int port);
// Deletes every session and connection, closes every socket, frees `demo`.
void rtsp_del_demo(rtsp_demo_handle demo);

// A session on `path` (e.g. "/live/main_stream"); null when the path is empty
// or overlaps an existing session's path.
rtsp_session_handle rtsp_new_session(rtsp_demo_handle demo, const char* path);
// rtsp_new_session, then rtsp_set_video(H.264, no codec data).
rtsp_session_handle create_rtsp_session(rtsp_demo_handle demo, const char* path);
void rtsp_del_session(rtsp_session_handle session);

// RTSP_CODEC_ID_VIDEO_H264 or RTSP_CODEC_ID_VIDEO_H265 (a session keeps its
// first video codec). codec_data (may be null) is an Annex-B buffer holding
// the parameter sets (H.264: SPS and PPS; H.265: VPS, SPS and PPS); without
// it they are taken from the first frames sent. Payload type 96, 90 kHz,
// a ring of 600 packets. 0 or -1.
int rtsp_set_video(rtsp_session_handle session, int codec_id, const uint8_t* codec_data, int data_len);
// The audio track ("track2"): G.711 A-law or µ-law, G.726 or AAC (a session
// keeps its first audio codec). codec_data: for G.726 the bit rate (a 32-bit
// integer, 32000 or 40000), for AAC the AudioSpecificConfig, otherwise
// unused; without it AAC takes its configuration from the first ADTS frame.
// Payload type 97, 8000 Hz or the AAC configuration's rate, a ring of 20
// packets. 0 or -1.
int rtsp_set_audio(rtsp_session_handle session, int codec_id, const uint8_t* codec_data, int data_len);
// Ties media time `ts` (µs, the clock of rtsp_tx_video's or rtsp_tx_audio's
// time stamps) to the NTP time `ntptime` (µs since 1900) for the sender
// reports. 0 or -1 (no session or no codec of that medium).
int rtsp_sync_video_ts(rtsp_session_handle session, uint64_t ts, uint64_t ntptime);
int rtsp_sync_audio_ts(rtsp_session_handle session, uint64_t ts, uint64_t ntptime);

// Queues one encoded Annex-B frame (media time `ts` in µs) and sends what it
// can to the playing viewers. `len`, or -1.
int rtsp_tx_video(rtsp_session_handle session, const uint8_t* frame, int len, uint64_t ts);
// The same for audio: G.711 / G.726 bytes (best one packet, up to 1444 bytes,
// a frame) or AAC in ADTS frames. `len`, or -1.
int rtsp_tx_audio(rtsp_session_handle session, const uint8_t* frame, int len, uint64_t ts);
// Same as rtsp_tx_video.
int rtsp_sever_tx_video(rtsp_demo_handle demo, rtsp_session_handle session, const uint8_t* frame, int len,
                        uint64_t ts);

// One non-blocking pass: accept, read and answer requests, send what viewers
// can take, read RTCP. 1 when something was ready, 0 when nothing, -1 on error.
int rtsp_do_event(rtsp_demo_handle demo);

// Clocks in microseconds: monotonic, wall clock since 1970, and NTP (since 1900).
uint64_t rtsp_get_reltime();
uint64_t rtsp_get_abstime();
uint64_t rtsp_get_ntptime();
