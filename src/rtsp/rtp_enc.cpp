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

uint32_t rtp_time(const rtp_enc* e, uint64_t ts)
{
    return uint32_t(ts * e->sample_rate / 1000000);
}

// Drops a leading 3- or 4-byte start code; false when nothing is left.
bool skip_start_code(const uint8_t*& nalu, int& len)
{
    if (len >= 4 && nalu[0] == 0 && nalu[1] == 0 && nalu[2] == 0 && nalu[3] == 1) {
        nalu += 4;
        len -= 4;
    } else if (len >= 3 && nalu[0] == 0 && nalu[1] == 0 && nalu[2] == 1) {
        nalu += 3;
        len -= 3;
    }
    return len > 0;
}

}  // namespace

namespace {

// One NAL unit (start code optional) as a single packet when it fits, else
// as fragments: each fragment starts with `fu_len` bytes of fragment headers,
// written by write_fu(packet payload, nal unit, first, last), and carries up
// to capacity - 12 - fu_len bytes of the unit after its `header_len`-byte NAL
// header. The marker is set on the unit's last packet.
template <typename WriteFu>
int packetise_nal_unit(rtp_enc* e, const uint8_t* nalu, int len, uint64_t ts, uint8_t* pkts[], int sizes[],
                       int header_len, int fu_len, WriteFu write_fu)
{
    if (!e || !nalu || len <= 0 || !pkts || !sizes || !skip_start_code(nalu, len))
        return -1;
    const uint32_t rtp_ts = rtp_time(e, ts);

    if (!slot_usable(pkts, sizes, 0))
        return 0;
    if (len <= sizes[0] - RTP_HEADER_SIZE) {
        write_header(pkts[0], e, true, e->seq++, rtp_ts);
        std::memcpy(pkts[0] + RTP_HEADER_SIZE, nalu, size_t(len));
        sizes[0] = RTP_HEADER_SIZE + len;
        return 1;
    }
    if (len <= header_len)
        return 0;  // a bare header that does not fit: nothing to cut

    const uint8_t* payload = nalu + header_len;
    int left = len - header_len;
    int count = 0;
    bool first = true;
    while (left > 0 && slot_usable(pkts, sizes, count) && sizes[count] > RTP_HEADER_SIZE + fu_len) {
        const int room = sizes[count] - RTP_HEADER_SIZE - fu_len;
        const bool last = left <= room;
        const int take = last ? left : room;
        uint8_t* p = pkts[count];
        write_header(p, e, last, e->seq++, rtp_ts);
        write_fu(p + RTP_HEADER_SIZE, nalu, first, last);
        std::memcpy(p + RTP_HEADER_SIZE + fu_len, payload, size_t(take));
        sizes[count] = RTP_HEADER_SIZE + fu_len + take;
        payload += take;
        left -= take;
        first = false;
        ++count;
    }
    return count;
}

uint8_t fu_flags(bool first, bool last)
{
    return uint8_t((first ? 0x80 : 0) | (last ? 0x40 : 0));
}

}  // namespace

int rtp_enc_h264(rtp_enc* e, const uint8_t* nalu, int len, uint64_t ts, uint8_t* pkts[], int sizes[])
{
    // FU-A: the NAL header becomes the FU indicator (type 28) and FU header.
    return packetise_nal_unit(e, nalu, len, ts, pkts, sizes, 1, 2,
                              [](uint8_t* fu, const uint8_t* unit, bool first, bool last) {
                                  fu[0] = uint8_t((unit[0] & 0xe0) | 28);
                                  fu[1] = uint8_t(fu_flags(first, last) | (unit[0] & 0x1f));
                              });
}

int rtp_enc_h265(rtp_enc* e, const uint8_t* nalu, int len, uint64_t ts, uint8_t* pkts[], int sizes[])
{
    // Fragmentation units: the payload header is the NAL header with type 49,
    // the FU header carries the unit's own type.
    return packetise_nal_unit(e, nalu, len, ts, pkts, sizes, 2, 3,
                              [](uint8_t* fu, const uint8_t* unit, bool first, bool last) {
                                  fu[0] = uint8_t((unit[0] & 0x81) | (49 << 1));
                                  fu[1] = unit[1];
                                  fu[2] = uint8_t(fu_flags(first, last) | ((unit[0] >> 1) & 0x3f));
                              });
}

int rtp_enc_aac(rtp_enc* e, const uint8_t* frame, int len, uint64_t ts, uint8_t* pkts[], int sizes[])
{
    if (!e || !frame || len <= 0 || !pkts || !sizes)
        return -1;
    if (len >= 7 && frame[0] == 0xff && (frame[1] & 0xf0) == 0xf0) {
        const int header = (frame[1] & 0x01) ? 7 : 9;  // protection absent: no CRC
        frame += header;
        len -= header;
    }
    if (len <= 0 || len > 0x1fff)
        return -1;
    const uint32_t rtp_ts = rtp_time(e, ts);
    enum { kAuSection = 4 };
    int left = len;
    int count = 0;
    while (left > 0 && slot_usable(pkts, sizes, count) && sizes[count] > RTP_HEADER_SIZE + kAuSection) {
        const int room = sizes[count] - RTP_HEADER_SIZE - kAuSection;
        const bool last = left <= room;
        const int take = last ? left : room;
        uint8_t* p = pkts[count];
        write_header(p, e, last, e->seq++, rtp_ts);
        p[RTP_HEADER_SIZE] = 0;
        p[RTP_HEADER_SIZE + 1] = 16;  // AU-headers-length in bits
        p[RTP_HEADER_SIZE + 2] = uint8_t(len >> 5);
        p[RTP_HEADER_SIZE + 3] = uint8_t((len & 0x1f) << 3);
        std::memcpy(p + RTP_HEADER_SIZE + kAuSection, frame, size_t(take));
        sizes[count] = RTP_HEADER_SIZE + kAuSection + take;
        frame += take;
        left -= take;
        ++count;
    }
    return count;
}

int rtp_enc_g711(rtp_enc* e, const uint8_t* frame, int len, uint64_t ts, uint8_t* pkts[], int sizes[])
{
    if (!e || !frame || len <= 0 || !pkts || !sizes)
        return -1;
    const uint32_t rtp_ts = rtp_time(e, ts);
    int left = len;
    int count = 0;
    while (left > 0 && slot_usable(pkts, sizes, count)) {
        const int take = left < sizes[count] - RTP_HEADER_SIZE ? left : sizes[count] - RTP_HEADER_SIZE;
        uint8_t* p = pkts[count];
        const uint16_t seq = e->seq++;
        write_header(p, e, seq == 0, seq, rtp_ts);
        std::memcpy(p + RTP_HEADER_SIZE, frame, size_t(take));
        sizes[count] = RTP_HEADER_SIZE + take;
        frame += take;
        left -= take;
        ++count;
    }
    return count;
}

int rtp_enc_g726(rtp_enc* e, const uint8_t* frame, int len, uint64_t ts, uint8_t* pkts[], int sizes[])
{
    return rtp_enc_g711(e, frame, len, ts, pkts, sizes);
}
