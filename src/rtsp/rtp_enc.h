#pragma once
// RTP packetisation of H.264 NAL units (RFC 6184: single NAL unit packets and
// FU-A fragments), written in place into caller-given slots.
#include <cstdint>

enum { RTP_HEADER_SIZE = 12 };

typedef struct {
    uint8_t pt;      // payload type
    uint16_t seq;    // next sequence number
    uint32_t ssrc;
    uint32_t sample_rate;
} rtp_enc;

// Cuts one NAL unit (start code optional) into packets. pkts[i] are slot
// addresses and sizes[i] their capacities on entry, the packet lengths on
// return; writing stops at a null slot or one smaller than 13 bytes.
// Returns the number of packets written, or -1 for null or empty input.
// ts is in µs; the RTP time stamp is ts * sample_rate / 1000000.
int rtp_enc_h264(rtp_enc* e, const uint8_t* nalu, int len, uint64_t ts, uint8_t* pkts[], int sizes[]);
