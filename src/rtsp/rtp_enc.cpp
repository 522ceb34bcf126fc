#include "rtsp/rtp_enc.h"

#include <cstring>

namespace {

void write_header(uint8_t* p, const rtp_enc* e, bool marker, uint16_t seq, uint32_t ts)
{
    p[0] = 0x80;  // version 2, no padding, no extension, no CSRC
    p[1] = uint8_t((marker ? 0x80 : 0) | (e->pt & 0x7f));
    p[2] = uint8_t(seq >> 8);
    p[3] = uint8_t(seq);
    p[4] = uint8_t(ts >> 24);
    p[5] = uint8_t(ts >> 16);
    p[6] = uint8_t(ts >> 8);
    p[7] = uint8_t(ts);
    p[8] = uint8_t(e->ssrc >> 24);
    p[9] = uint8_t(e->ssrc >> 16);
    p[10] = uint8_t(e->ssrc >> 8);
    p[11] = uint8_t(e->ssrc);
}

bool slot_usable(uint8_t* pkts[], int sizes[], int i)
{
    return pkts[i] && sizes[i] > RTP_HEADER_SIZE;
}

}  // namespace

int rtp_enc_h264(rtp_enc* e, const uint8_t* nalu, int len, uint64_t ts, uint8_t* pkts[], int sizes[])
{
    if (!e || !nalu || len <= 0 || !pkts || !sizes)
        return -1;
    if (len >= 4 && nalu[0] == 0 && nalu[1] == 0 && nalu[2] == 0 && nalu[3] == 1) {
        nalu += 4;
        len -= 4;
    } else if (len >= 3 && nalu[0] == 0 && nalu[1] == 0 && nalu[2] == 1) {
        nalu += 3;
        len -= 3;
    }
    if (len <= 0)
        return -1;
    const uint32_t rtp_ts = uint32_t(ts * e->sample_rate / 1000000);

    if (!slot_usable(pkts, sizes, 0))
        return 0;
    if (len <= sizes[0] - RTP_HEADER_SIZE) {
        write_header(pkts[0], e, true, e->seq++, rtp_ts);
        std::memcpy(pkts[0] + RTP_HEADER_SIZE, nalu, size_t(len));
        sizes[0] = RTP_HEADER_SIZE + len;
        return 1;
    }

    // FU-A: the NAL header becomes the FU indicator and FU header.
    const uint8_t nal_header = nalu[0];
    const uint8_t* payload = nalu + 1;
    int left = len - 1;
    int count = 0;
    bool first = true;
    while (left > 0 && slot_usable(pkts, sizes, count) && sizes[count] > RTP_HEADER_SIZE + 2) {
        const int room = sizes[count] - RTP_HEADER_SIZE - 2;
        const bool last = left <= room;
        const int take = last ? left : room;
        uint8_t* p = pkts[count];
        write_header(p, e, last, e->seq++, rtp_ts);
        p[RTP_HEADER_SIZE] = uint8_t((nal_header & 0xe0) | 28);
        p[RTP_HEADER_SIZE + 1] = uint8_t((first ? 0x80 : 0) | (last ? 0x40 : 0) | (nal_header & 0x1f));
        std::memcpy(p + RTP_HEADER_SIZE + 2, payload, size_t(take));
        sizes[count] = RTP_HEADER_SIZE + 2 + take;
        payload += take;
        left -= take;
        first = false;
        ++count;
    }
    return count;
}
