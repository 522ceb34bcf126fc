#include "rtsp/rtsp_codec.h"

#include "rtsp/rtsp_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Length of the start code at data[i] (3 or 4), or 0.
int start_code_at(const uint8_t* data, int len, int i)
{
    if (i + 3 <= len && data[i] == 0 && data[i + 1] == 0) {
        if (data[i + 2] == 1)
            return 3;
        if (i + 4 <= len && data[i + 2] == 0 && data[i + 3] == 1)
            return 4;
    }
    return 0;
}

int append(char* buf, int size, int pos, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
int append(char* buf, int size, int pos, const char* fmt, ...)
{
    if (pos >= size)
        return pos;
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf + pos, size_t(size - pos), fmt, ap);
    va_end(ap);
    if (n < 0)
        return pos;
    return (pos + n < size) ? pos + n : size - 1;
}

}  // namespace

const uint8_t* rtsp_find_h264_h265_nalu(const uint8_t* data, int len, int* nalu_len)
{
    if (!data || len <= 0)
        return nullptr;
    int begin = -1;
    for (int i = 0; i + 3 <= len; ++i) {
        const int sc = start_code_at(data, len, i);
        if (!sc)
            continue;
        if (begin < 0) {
            if (i + sc >= len)
                return nullptr;  // a start code with nothing after it
            begin = i;
            i += sc - 1;
            continue;
        }
        if (nalu_len)
            *nalu_len = i - begin;
        return data + begin;
    }
    if (begin < 0)
        return nullptr;
    if (nalu_len)
        *nalu_len = len - begin;
    return data + begin;
}

namespace {

// Walks the NAL units of an Annex-B buffer while more than 3 bytes remain and
// `more` says a parameter set is still missing, handing each unit's body
// (start code dropped) to `take`.
template <typename More, typename Take>
void walk_nal_units(const uint8_t* frame, int len, More more, Take take)
{
    const uint8_t* p = frame;
    int left = len;
    while (left > 3 && more()) {
        int size = 0;
        const uint8_t* nalu = rtsp_find_h264_h265_nalu(p, left, &size);
        if (!nalu)
            break;
        const int sc = start_code_at(nalu, size, 0);
        if (size - sc > 0)
            take(nalu + sc, size - sc);
        left -= int(nalu - p) + size;
        p = nalu + size;
    }
}

// Copies a parameter set, cut to 64 bytes.
void keep_set(uint8_t* to, uint32_t* to_len, const uint8_t* body, int body_len, const char* name)
{
    const uint32_t keep = uint32_t(body_len > 64 ? 64 : body_len);
    std::memcpy(to, body, keep);
    *to_len = keep;
    RTSP_DBG("%s %d\n", name, int(keep));
}

}  // namespace

int rtsp_codec_data_parse_from_frame_h264(const uint8_t* frame, int len, codec_data_h264* codec_data)
{
    if (!frame || !codec_data)
        return 0;
    codec_data_h264* c = codec_data;
    walk_nal_units(
        frame, len, [c] { return c->sps_len == 0 || c->pps_len == 0; },
        [c](const uint8_t* body, int body_len) {
            const int type = body[0] & 0x1f;
            if (type == 7)
                keep_set(c->sps, &c->sps_len, body, body_len, "sps");
            else if (type == 8)
                keep_set(c->pps, &c->pps_len, body, body_len, "pps");
        });
    return (c->sps_len > 0 && c->pps_len > 0) ? 1 : 0;
}

int rtsp_codec_data_parse_from_user_h264(const uint8_t* data, int len, codec_data_h264* codec_data)
{
    return rtsp_codec_data_parse_from_frame_h264(data, len, codec_data);
}

namespace {

// The "m=" and "c=" lines of a medium ("video" or "audio"); -1 without a buffer.
int sdp_media_head(const char* medium, int pt, char* buf, int size)
{
    if (!buf || size <= 0)
        return -1;
    buf[0] = '\0';
    const int pos = append(buf, size, 0, "m=%s 0 RTP/AVP %d\r\n", medium, pt);
    return append(buf, size, pos, "c=IN IP4 0.0.0.0\r\n");
}

}  // namespace

int rtsp_build_sdp_media_attr_h264(int pt, int sample_rate, const codec_data_h264* codec_data, char* buf,
                                   int size)
{
    int pos = sdp_media_head("video", pt, buf, size);
    if (pos < 0)
        return 0;
    pos = append(buf, size, pos, "a=rtpmap:%d H264/%d\r\n", pt, sample_rate);
    if (codec_data && codec_data->sps_len > 0 && codec_data->pps_len > 0) {
        char sps[100];
        char pps[100];
        base64_encode(sps, sizeof(sps), codec_data->sps, int(codec_data->sps_len));
        base64_encode(pps, sizeof(pps), codec_data->pps, int(codec_data->pps_len));
        pos = append(buf, size, pos, "a=fmtp:%d packetization-mode=1;sprop-parameter-sets=%s,%s\r\n", pt, sps, pps);
    } else {
        pos = append(buf, size, pos, "a=fmtp:%d packetization-mode=1\r\n", pt);
    }
    return pos;
}

int rtsp_codec_data_parse_from_frame_h265(const uint8_t* frame, int len, codec_data_h265* codec_data)
{
    if (!frame || !codec_data)
        return 0;
    codec_data_h265* c = codec_data;
    walk_nal_units(
        frame, len, [c] { return c->vps_len == 0 || c->sps_len == 0 || c->pps_len == 0; },
        [c](const uint8_t* body, int body_len) {
            const int type = (body[0] >> 1) & 63;
            if (type == 32)
                keep_set(c->vps, &c->vps_len, body, body_len, "vps");
            else if (type == 33)
                keep_set(c->sps, &c->sps_len, body, body_len, "sps");
            else if (type == 34)
                keep_set(c->pps, &c->pps_len, body, body_len, "pps");
        });
    return (c->vps_len > 0 && c->sps_len > 0 && c->pps_len > 0) ? 1 : 0;
}

int rtsp_codec_data_parse_from_user_h265(const uint8_t* data, int len, codec_data_h265* codec_data)
{
    return rtsp_codec_data_parse_from_frame_h265(data, len, codec_data);
}

int rtsp_build_sdp_media_attr_h265(int pt, int sample_rate, const codec_data_h265* codec_data, char* buf,
                                   int size)
{
    int pos = sdp_media_head("video", pt, buf, size);
    if (pos < 0)
        return 0;
    pos = append(buf, size, pos, "a=rtpmap:%d H265/%d\r\n", pt, sample_rate);
    if (codec_data && codec_data->vps_len > 0 && codec_data->sps_len > 0 && codec_data->pps_len > 0) {
        char vps[100];
        char sps[100];
        char pps[100];
        base64_encode(vps, sizeof(vps), codec_data->vps, int(codec_data->vps_len));
        base64_encode(sps, sizeof(sps), codec_data->sps, int(codec_data->sps_len));
        base64_encode(pps, sizeof(pps), codec_data->pps, int(codec_data->pps_len));
        pos = append(buf, size, pos, "a=fmtp:%d sprop-vps=%s;sprop-sps=%s;sprop-pps=%s\r\n", pt, vps, sps, pps);
    }
    return pos;
}

namespace {

const uint32_t kAacRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};

}  // namespace

const uint8_t* rtsp_find_aac_adts(const uint8_t* data, int len, int* frame_len)
{
    if (!data || len <= 0)
        return nullptr;
    for (int i = 0; i + 7 <= len; ++i) {
        if (data[i] != 0xff || (data[i + 1] & 0xf0) != 0xf0)
            continue;
        const int n = ((data[i + 3] & 0x03) << 11) | (data[i + 4] << 3) | (data[i + 5] >> 5);
        const int header = (data[i + 1] & 0x01) ? 7 : 9;
        if (n <= header)
            continue;  // not a frame header
        if (n > len - i)
            return nullptr;
        if (frame_len)
            *frame_len = n;
        return data + i;
    }
    return nullptr;
}

int rtsp_codec_data_parse_from_frame_aac(const uint8_t* frame, int len, codec_data_aac* codec_data)
{
    int n = 0;
    const uint8_t* h = rtsp_find_aac_adts(frame, len, &n);
    if (!h || !codec_data)
        return 0;
    const int profile = (h[2] >> 6) & 3;
    const int rate_index = (h[2] >> 2) & 15;
    const int channels = ((h[2] & 1) << 2) | (h[3] >> 6);
    if (rate_index >= 13)
        return 0;
    const int object_type = profile + 1;
    codec_data->config[0] = uint8_t((object_type << 3) | (rate_index >> 1));
    codec_data->config[1] = uint8_t(((rate_index & 1) << 7) | (channels << 3));
    codec_data->config_len = 2;
    codec_data->sample_rate = kAacRates[rate_index];
    codec_data->channels = uint32_t(channels);
    RTSP_DBG("aac config %02X%02X\n", codec_data->config[0], codec_data->config[1]);
    return 1;
}

int rtsp_codec_data_parse_from_user_aac(const uint8_t* data, int len, codec_data_aac* codec_data)
{
    if (!data || len < 2 || !codec_data)
        return 0;
    const int rate_index = ((data[0] & 7) << 1) | (data[1] >> 7);
    if (rate_index >= 13)
        return 0;  // 15 would be an explicit rate, not supported here
    const uint32_t keep = uint32_t(len > 64 ? 64 : len);
    std::memcpy(codec_data->config, data, keep);
    codec_data->config_len = keep;
    codec_data->sample_rate = kAacRates[rate_index];
    codec_data->channels = uint32_t((data[1] >> 3) & 15);
    return 1;
}

int rtsp_build_sdp_media_attr_aac(int pt, const codec_data_aac* codec_data, char* buf, int size)
{
    int pos = sdp_media_head("audio", pt, buf, size);
    if (pos < 0)
        return 0;
    const bool known = codec_data && codec_data->config_len >= 2;
    const uint32_t rate = known && codec_data->sample_rate ? codec_data->sample_rate : 44100;
    const uint32_t channels = known && codec_data->channels ? codec_data->channels : 2;
    pos = append(buf, size, pos, "a=rtpmap:%d MPEG4-GENERIC/%u/%u\r\n", pt, rate, channels);
    if (known)
        pos = append(buf, size, pos,
                     "a=fmtp:%d profile-level-id=1;mode=AAC-hbr;sizelength=13;indexlength=3;indexdeltalength=3;"
                     "config=%02X%02X\r\n",
                     pt, codec_data->config[0], codec_data->config[1]);
    else
        pos = append(buf, size, pos,
                     "a=fmtp:%d profile-level-id=1;mode=AAC-hbr;sizelength=13;indexlength=3;indexdeltalength=3\r\n",
                     pt);
    return pos;
}

int rtsp_codec_data_parse_from_user_g726(const uint8_t* data, int len, codec_data_g726* codec_data)
{
    uint32_t rate = 0;
    if (data && len == int(sizeof(rate)))
        std::memcpy(&rate, data, sizeof(rate));
    if (!codec_data || (rate != 32000 && rate != 40000)) {
        RTSP_ERR("bit rate invalid\n");
        return 0;
    }
    codec_data->bit_rate = rate;
    return 1;
}

int rtsp_build_sdp_media_attr_g711a(int pt, int sample_rate, char* buf, int size)
{
    const int pos = sdp_media_head("audio", pt, buf, size);
    return pos < 0 ? 0 : append(buf, size, pos, "a=rtpmap:%d PCMA/%d/1\r\n", pt, sample_rate);
}

int rtsp_build_sdp_media_attr_g711u(int pt, int sample_rate, char* buf, int size)
{
    const int pos = sdp_media_head("audio", pt, buf, size);
    return pos < 0 ? 0 : append(buf, size, pos, "a=rtpmap:%d PCMU/%d/1\r\n", pt, sample_rate);
}

int rtsp_build_sdp_media_attr_g726(int pt, int sample_rate, const codec_data_g726* codec_data, char* buf, int size)
{
    const int pos = sdp_media_head("audio", pt, buf, size);
    const int kbits = codec_data && codec_data->bit_rate ? int(codec_data->bit_rate / 1000) : 32;
    return pos < 0 ? 0 : append(buf, size, pos, "a=rtpmap:%d G726-%d/%d/1\r\n", pt, kbits, sample_rate);
}

char* base64_encode(char* out, int out_size, const uint8_t* in, int in_len)
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (!out || in_len < 0 || (in_len > 0 && !in) || in_len > 0x3ffffffe)
        return nullptr;
    const long need = 4L * ((in_len + 2) / 3);
    if (out_size <= need)
        return nullptr;
    char* o = out;
    int i = 0;
    for (; i + 3 <= in_len; i += 3) {
        const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        *o++ = table[(v >> 18) & 63];
        *o++ = table[(v >> 12) & 63];
        *o++ = table[(v >> 6) & 63];
        *o++ = table[v & 63];
    }
    if (in_len - i == 1) {
        const uint32_t v = uint32_t(in[i]) << 16;
        *o++ = table[(v >> 18) & 63];
        *o++ = table[(v >> 12) & 63];
        *o++ = '=';
        *o++ = '=';
    } else if (in_len - i == 2) {
        const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8);
        *o++ = table[(v >> 18) & 63];
        *o++ = table[(v >> 12) & 63];
        *o++ = table[(v >> 6) & 63];
        *o++ = '=';
    }
    *o = '\0';
    return out;
}
