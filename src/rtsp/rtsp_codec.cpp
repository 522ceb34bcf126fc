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

int rtsp_codec_data_parse_from_frame_h264(const uint8_t* frame, int len, codec_data_h264* codec_data)
{
    if (!frame || !codec_data)
        return 0;
    const uint8_t* p = frame;
    int left = len;
    while (left > 3 && (codec_data->sps_len == 0 || codec_data->pps_len == 0)) {
        int size = 0;
        const uint8_t* nalu = rtsp_find_h264_h265_nalu(p, left, &size);
        if (!nalu)
            break;
        const int sc = start_code_at(nalu, size, 0);
        const uint8_t* body = nalu + sc;
        const int body_len = size - sc;
        const int type = body_len > 0 ? (body[0] & 0x1f) : -1;
        const uint32_t keep = uint32_t(body_len > 64 ? 64 : body_len);
        if (type == 7) {
            std::memcpy(codec_data->sps, body, keep);
            codec_data->sps_len = keep;
            RTSP_DBG("sps %d\n", int(keep));
        } else if (type == 8) {
            std::memcpy(codec_data->pps, body, keep);
            codec_data->pps_len = keep;
            RTSP_DBG("pps %d\n", int(keep));
        }
        left -= int(nalu - p) + size;
        p = nalu + size;
    }
    return (codec_data->sps_len > 0 && codec_data->pps_len > 0) ? 1 : 0;
}

int rtsp_codec_data_parse_from_user_h264(const uint8_t* data, int len, codec_data_h264* codec_data)
{
    return rtsp_codec_data_parse_from_frame_h264(data, len, codec_data);
}

int rtsp_build_sdp_media_attr_h264(int pt, int sample_rate, const codec_data_h264* codec_data, char* buf,
                                   int size)
{
    if (!buf || size <= 0)
        return 0;
    buf[0] = '\0';
    int pos = 0;
    pos = append(buf, size, pos, "m=video 0 RTP/AVP %d\r\n", pt);
    pos = append(buf, size, pos, "c=IN IP4 0.0.0.0\r\n");
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
