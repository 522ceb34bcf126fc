#pragma once
// RTP packetisation, written in place into caller-given slots: H.264 NAL
// units (RFC 6184: single NAL unit packets and FU-A fragments), H.265 NAL
// units (RFC 7798: single packets and fragmentation units), AAC access units
// (RFC 3640, AAC-hbr) and G.711 / G.726 audio (plain payload).
//
// Every packetiser takes the same arguments: pkts[i] are slot addresses and
// sizes[i] their capacities on entry, the packet lengths on return; writing
// stops at a null slot or one too small for a header and one payload byte.
// It returns the number of packets written, or -1 for null or empty input.
// ts is in µs; the RTP time stamp is ts * sample_rate / 1000000.
#include <cstdint>

enum { RTP_HEADER_SIZE = 12 };

typedef struct {
    uint8_t pt;      // payload type
    uint16_t seq;    // next sequence number
    uint32_t ssrc;
    uint32_t sample_rate;
} rtp_enc;

// One H.264 NAL unit (start code optional). The marker is set on the last
// packet of the unit.
int rtp_enc_h264(rtp_enc* e, const uint8_t* nalu, int len, uint64_t ts, uint8_t* pkts[], int sizes[]);
// One H.265 NAL unit (start code optional): a single packet when it fits,
// else fragmentation units (type 49: the 2-byte payload header and a 1-byte
// FU header, up to capacity - 15 payload bytes each). Marker as H.264.
int rtp_enc_h265(rtp_enc* e, const uint8_t* nalu, int len, uint64_t ts, uint8_t* pkts[], int sizes[]);
// One AAC frame: an ADTS frame (its header is dropped) or a bare access unit.
// Each packet holds the AU-headers-length (16 bits) and one AU header (13
// bits of size, 3 of index 0) after the RTP header, then up to capacity - 16
// bytes of the unit; a larger unit is fragmented, every fragment naming the
// whole unit's size. The marker is set on the unit's last packet.
int rtp_enc_aac(rtp_enc* e, const uint8_t* frame, int len, uint64_t ts, uint8_t* pkts[], int sizes[]);
// G.711 or G.726 bytes as they are, up to capacity - 12 bytes a packet, all
// with the frame's time stamp (a frame is meant to fit one packet); the
// marker only on the packet with sequence number 0.
int rtp_enc_g711(rtp_enc* e, const uint8_t* frame, int len, uint64_t ts, uint8_t* pkts[], int sizes[]);
int rtp_enc_g726(rtp_enc* e, const uint8_t* frame, int len, uint64_t ts, uint8_t* pkts[], int sizes[]);
