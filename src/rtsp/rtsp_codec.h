#pragma once
// H.264 stream helpers: NAL units in an Annex-B buffer, parameter sets, the
// SDP media lines, and Base64 for those lines.
#include <cstdint>

typedef struct {
    uint8_t sps[64];
    uint8_t pps[64];
    uint32_t sps_len;  // 0: none yet
    uint32_t pps_len;
} codec_data_h264;

// First start code (00 00 01 or 00 00 00 01) in data and, in *nalu_len, the
// length from it to the next start code or the end, start code included.
// Null when there is none or nothing follows it.
const uint8_t* rtsp_find_h264_h265_nalu(const uint8_t* data, int len, int* nalu_len);

// Takes SPS (type 7) and PPS (type 8) from an Annex-B buffer, each cut to 64
// bytes. 1 when both were found, else 0.
int rtsp_codec_data_parse_from_frame_h264(const uint8_t* frame, int len, codec_data_h264* codec_data);
int rtsp_codec_data_parse_from_user_h264(const uint8_t* data, int len, codec_data_h264* codec_data);

// "m=", "c=", "a=rtpmap:" and "a=fmtp:" lines; characters written.
int rtsp_build_sdp_media_attr_h264(int pt, int sample_rate, const codec_data_h264* codec_data, char* buf,
                                   int size);

// Base64 (standard alphabet, '=' padding), NUL-terminated. `out`, or null
// when out_size is not larger than the encoded length.
char* base64_encode(char* out, int out_size, const uint8_t* in, int in_len);
