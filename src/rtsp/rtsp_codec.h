#pragma once
// Stream helpers: NAL units in an Annex-B buffer and H.264 / H.265 parameter
// sets, ADTS frames and the AAC configuration, the G.726 bit rate, the SDP
// media lines of every codec, and Base64 for those lines.
#include <cstdint>

typedef struct {
    uint8_t sps[64];
    uint8_t pps[64];
    uint32_t sps_len;  // 0: none yet
    uint32_t pps_len;
} codec_data_h264;

typedef struct {
    uint8_t vps[64];
    uint8_t sps[64];
    uint8_t pps[64];
    uint32_t vps_len;  // 0: none yet
    uint32_t sps_len;
    uint32_t pps_len;
} codec_data_h265;

typedef struct {
    uint32_t bit_rate;  // 32000 or 40000; 0: not given (32 kbit/s in the SDP)
} codec_data_g726;

typedef struct {
    uint8_t config[64];  // AudioSpecificConfig
    uint32_t config_len; // 0: none yet
    uint32_t sample_rate;
    uint32_t channels;
} codec_data_aac;

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

// As the H.264 ones with VPS (type 32), SPS (33) and PPS (34), the type
// being (byte >> 1) & 63. 1 when all three were found, else 0.
int rtsp_codec_data_parse_from_frame_h265(const uint8_t* frame, int len, codec_data_h265* codec_data);
int rtsp_codec_data_parse_from_user_h265(const uint8_t* data, int len, codec_data_h265* codec_data);
// "m=", "c=", "a=rtpmap:%d H265/%d" and, once all three parameter sets are
// known, "a=fmtp:%d sprop-vps=...;sprop-sps=...;sprop-pps=..." (Base64).
int rtsp_build_sdp_media_attr_h265(int pt, int sample_rate, const codec_data_h265* codec_data, char* buf,
                                   int size);

// First ADTS frame (sync word 0xFFF) in data and, in *frame_len, its length
// from its header; null when there is none or it is not whole in data.
const uint8_t* rtsp_find_aac_adts(const uint8_t* data, int len, int* frame_len);
// The configuration from the header of the first ADTS frame in `frame`.
// 1 when found, else 0.
int rtsp_codec_data_parse_from_frame_aac(const uint8_t* frame, int len, codec_data_aac* codec_data);
// The configuration from an AudioSpecificConfig (at least 2 bytes; kept up
// to 64). 1 when its sample rate is one of the table's, else 0.
int rtsp_codec_data_parse_from_user_aac(const uint8_t* data, int len, codec_data_aac* codec_data);
// "m=audio", "c=", "a=rtpmap:%d MPEG4-GENERIC/<rate>/<channels>" (44100 and
// 2 until a configuration is known) and the AAC-hbr "a=fmtp:" line, with
// "config=" once a configuration is known.
int rtsp_build_sdp_media_attr_aac(int pt, const codec_data_aac* codec_data, char* buf, int size);

// `data` holds the bit rate as a 32-bit integer in host order (len 4); it
// must be 32000 or 40000. 1 when taken, else 0.
int rtsp_codec_data_parse_from_user_g726(const uint8_t* data, int len, codec_data_g726* codec_data);
// "m=audio", "c=" and "a=rtpmap:%d PCMA/%d/1", "PCMU/%d/1" or
// "G726-<kbit/s>/%d/1" (32 when no bit rate is known).
int rtsp_build_sdp_media_attr_g711a(int pt, int sample_rate, char* buf, int size);
int rtsp_build_sdp_media_attr_g711u(int pt, int sample_rate, char* buf, int size);
int rtsp_build_sdp_media_attr_g726(int pt, int sample_rate, const codec_data_g726* codec_data, char* buf, int size);

// Base64 (standard alphabet, '=' padding), NUL-terminated. `out`, or null
// when out_size is not larger than the encoded length.
char* base64_encode(char* out, int out_size, const uint8_t* in, int in_len);
