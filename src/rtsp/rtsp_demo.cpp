#include "rtsp/rtsp_demo.h"

#include "rtsp/rtp_enc.h"
#include "rtsp/rtsp_codec.h"
#include "rtsp/rtsp_log.h"
#include "rtsp/rtsp_msg.h"
#include "rtsp/stream_queue.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/queue.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <vector>

namespace {

enum { kPacketSize = 1456 };          // one ring slot: an RTP packet that fits a 1500-byte MTU
enum { kVideoPackets = 601 };         // video ring slots of a session (600 packets)
enum { kAudioPackets = 21 };          // audio ring slots of a session (20 packets)
enum { kMaxFramePackets = 300 };      // slots one frame may take
enum { kRequestBufferSize = 1024 };   // received requests, kept NUL-terminated
enum { kMaxRequestsPerPass = 8 };     // messages read from one connection in one pass
enum { kOutBufferSize = 16384 };      // one packet's unsent rest plus the answers of one pass
enum { kMinUdpPort = 49152 };
enum { kSrIntervalUs = 5000000 };
enum { kConnStateInit = 0, kConnStateReady = 1, kConnStatePlaying = 2 };

const uint64_t kNtpOffsetUs = 2208988800ULL * 1000000ULL;

uint32_t g_next_ssrc = 0x22345678;

}  // namespace

struct rtp_connection {
    bool is_over_tcp;
    int tcp_sockfd;                // the RTSP connection's socket
    uint8_t tcp_interleaved[2];    // RTP, RTCP channels
    int udp_sockfd[2];             // RTP, RTCP sockets
    uint16_t udp_localport[2];
    uint16_t udp_peerport[2];
    struct in_addr peer_addr;
    int streamq_index;             // read position in the session's ring
    uint32_t ssrc;
    uint32_t rtcp_packet_count;
    uint32_t rtcp_octet_count;
    uint64_t rtcp_last_ts;         // media time of the last sender report
    bool rtcp_sent;
    bool send_failed_logged;
    int pfd_udp[2];                // index in this pass's poll set, or -1
};
namespace {

}  // namespace

struct rtsp_client_connection;
TAILQ_HEAD(rtsp_client_connection_queue_head, rtsp_client_connection);
TAILQ_HEAD(rtsp_session_queue_head, rtsp_session);

struct rtsp_client_connection {
    int state;
    int sockfd;
    struct in_addr peer_addr;
    uint16_t peer_port;
    char peer_text[32];
    uint32_t session_id;
    char reqbuf[kRequestBufferSize];
    int reqlen;
    rtp_connection* vrtp;
    rtp_connection* artp;
    rtsp_demo* demo;
    rtsp_session* session;
    bool broken;                   // a send failed for good: deleted at the end of the pass
    bool more_to_read;             // messages may wait in the buffer or the socket beyond this pass's share
    int pfd_tcp;                   // index in this pass's poll set, or -1
    // Bytes already promised to the TCP stream (the rest of a partly sent
    // frame, answers) that go out before anything new.
    uint8_t outbuf[kOutBufferSize];
    int outoff;
    int outlen;
    TAILQ_ENTRY(rtsp_client_connection) demo_entry;
    TAILQ_ENTRY(rtsp_client_connection) session_entry;
};

// One medium of a session: its codec, packetiser state and packet ring.
struct rtsp_media {
    int codec_id;
    rtp_enc rtpe;
    stream_queue* streamq;
    uint64_t ntptime_of_zero_ts;
};

struct rtsp_session {
    char path[64];
    rtsp_media video;
    rtsp_media audio;
    union {
        codec_data_h264 h264;
        codec_data_h265 h265;
    } vcodec_data;
    union {
        codec_data_g726 g726;
        codec_data_aac aac;
    } acodec_data;
    rtsp_demo* demo;
    rtsp_client_connection_queue_head connections_qhead;
    TAILQ_ENTRY(rtsp_session) demo_entry;
};

struct rtsp_demo {
    int sockfd;
    rtsp_session_queue_head sessions_qhead;
    rtsp_client_connection_queue_head connections_qhead;
    std::vector<pollfd> pfds;
};

namespace {

bool would_block(int e)
{
    return e == EAGAIN || e == EWOULDBLOCK || e == EINTR;
}

void set_nonblocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) {
        RTSP_WARN("fcntl F_GETFL failed: %s\n", strerror(errno));
        return;
    }
    if (fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        RTSP_WARN("fcntl F_SETFL failed: %s\n", strerror(errno));
}

// "Both paths end in '/', and b starts with the whole of a."
bool rtsp_path_match(const char* a, const char* b)
{
    char pa[64];
    char pb[64];
    std::snprintf(pa, sizeof(pa) - 1, "%.62s", a);
    std::snprintf(pb, sizeof(pb) - 1, "%.62s", b);
    size_t la = std::strlen(pa);
    size_t lb = std::strlen(pb);
    if (la == 0 || pa[la - 1] != '/') {
        pa[la++] = '/';
        pa[la] = '\0';
    }
    if (lb == 0 || pb[lb - 1] != '/') {
        pb[lb++] = '/';
        pb[lb] = '\0';
    }
    return std::strncmp(pa, pb, la) == 0;
}

// ---- the TCP stream of one connection ----

// Sends what is left of earlier bytes; -1 when the connection is broken.
int flush_out(rtsp_client_connection* cc)
{
    while (cc->outoff < cc->outlen) {
        const ssize_t n = send(cc->sockfd, cc->outbuf + cc->outoff, size_t(cc->outlen - cc->outoff),
                               MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (would_block(errno))
                return 0;
            RTSP_WARN("rtsp over tcp send to %s failed: %s\n", cc->peer_text, strerror(errno));
            cc->broken = true;
            return -1;
        }
        cc->outoff += int(n);
    }
    cc->outoff = cc->outlen = 0;
    return 0;
}

bool out_pending(const rtsp_client_connection* cc)
{
    return cc->outoff < cc->outlen;
}

void keep_rest(rtsp_client_connection* cc, const struct iovec* iov, int iovcnt, size_t skip)
{
    if (cc->outoff > 0) {
        std::memmove(cc->outbuf, cc->outbuf + cc->outoff, size_t(cc->outlen - cc->outoff));
        cc->outlen -= cc->outoff;
        cc->outoff = 0;
    }
    for (int i = 0; i < iovcnt; ++i) {
        const uint8_t* p = static_cast<const uint8_t*>(iov[i].iov_base);
        size_t n = iov[i].iov_len;
        if (skip >= n) {
            skip -= n;
            continue;
        }
        p += skip;
        n -= skip;
        skip = 0;
        std::memcpy(cc->outbuf + cc->outlen, p, n);
        cc->outlen += int(n);
    }
}

size_t iov_total(const struct iovec* iov, int iovcnt)
{
    size_t total = 0;
    for (int i = 0; i < iovcnt; ++i)
        total += iov[i].iov_len;
    return total;
}

// Puts one whole frame into the TCP stream. A frame is either not started
// (0: the stream is busy, try later), or fully promised: what the socket does
// not take now is kept and sent before anything else. `must` frames (answers)
// are kept even when the stream is busy. Returns the frame's size, 0, or -1.
int stream_send(rtsp_client_connection* cc, const struct iovec* iov, int iovcnt, bool must)
{
    const size_t total = iov_total(iov, iovcnt);
    if (flush_out(cc) < 0)
        return -1;
    if (out_pending(cc)) {
        if (!must)
            return 0;
        if (cc->outlen + total > sizeof(cc->outbuf)) {
            RTSP_WARN("rtsp over tcp output to %s overflows\n", cc->peer_text);
            cc->broken = true;
            return -1;
        }
        keep_rest(cc, iov, iovcnt, 0);
        return int(total);
    }
    struct msghdr mh {};
    mh.msg_iov = const_cast<struct iovec*>(iov);
    mh.msg_iovlen = size_t(iovcnt);
    const ssize_t n = sendmsg(cc->sockfd, &mh, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        if (!would_block(errno)) {
            RTSP_WARN("rtp over tcp send %d bytes to %s failed: %s\n", int(total), cc->peer_text, strerror(errno));
            cc->broken = true;
            return -1;
        }
        if (!must)
            return 0;
        keep_rest(cc, iov, iovcnt, 0);
        return int(total);
    }
    if (size_t(n) < total)
        keep_rest(cc, iov, iovcnt, size_t(n));
    return int(total);
}

// ---- RTP connections ----

void close_fd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void rtp_connection_del(rtp_connection* rtp)
{
    if (!rtp)
        return;
    close_fd(rtp->udp_sockfd[0]);
    close_fd(rtp->udp_sockfd[1]);
    std::free(rtp);
}

int make_udp_socket(uint16_t port, const char* what)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        RTSP_ERR("create %s socket failed: %s\n", what, strerror(errno));
        return -1;
    }
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) < 0) {
        close(fd);
        return -2;
    }
    set_nonblocking(fd);
    return fd;
}

// Two UDP sockets on the lowest free even port pair from 49152.
int open_udp_pair(rtp_connection* rtp)
{
    for (int port = kMinUdpPort; port + 1 <= 65535; port += 2) {
        const int rtpfd = make_udp_socket(uint16_t(port), "rtp");
        if (rtpfd == -1)
            return -1;
        if (rtpfd < 0)
            continue;
        const int rtcpfd = make_udp_socket(uint16_t(port + 1), "rtcp");
        if (rtcpfd == -1) {
            close(rtpfd);
            return -1;
        }
        if (rtcpfd < 0) {
            close(rtpfd);
            continue;
        }
        rtp->udp_sockfd[0] = rtpfd;
        rtp->udp_sockfd[1] = rtcpfd;
        rtp->udp_localport[0] = uint16_t(port);
        rtp->udp_localport[1] = uint16_t(port + 1);
        return 0;
    }
    RTSP_ERR("not found free local port for rtp/rtcp\n");
    return -1;
}

rtp_connection* rtp_connection_new(rtsp_client_connection* cc, const rtsp_msg_transport_s& t, const char* what)
{
    auto* rtp = static_cast<rtp_connection*>(std::calloc(1, sizeof(rtp_connection)));
    if (!rtp) {
        RTSP_ERR("alloc mem for rtp session failed: %s\n", strerror(errno));
        return nullptr;
    }
    rtp->tcp_sockfd = -1;
    rtp->udp_sockfd[0] = rtp->udp_sockfd[1] = -1;
    rtp->pfd_udp[0] = rtp->pfd_udp[1] = -1;
    rtp->ssrc = g_next_ssrc++;
    rtp->peer_addr = cc->peer_addr;
    if (t.type == RTSP_MSG_TRANSPORT_TYPE_RTP_AVP_TCP) {
        rtp->is_over_tcp = true;
        rtp->tcp_sockfd = cc->sockfd;
        rtp->tcp_interleaved[0] = t.interleaved;
        rtp->tcp_interleaved[1] = uint8_t(t.interleaved + 1);
        RTSP_INFO("new rtp over tcp for %s ssrc:%08x peer_addr:%s interleaved:%u-%u\n", what, rtp->ssrc,
                  cc->peer_text, unsigned(rtp->tcp_interleaved[0]), unsigned(rtp->tcp_interleaved[1]));
    } else {
        if (open_udp_pair(rtp) < 0) {
            std::free(rtp);
            return nullptr;
        }
        rtp->udp_peerport[0] = t.client_port;
        rtp->udp_peerport[1] = uint16_t(t.client_port + 1);
        RTSP_INFO("new rtp over udp for %s ssrc:%08x local_port:%u-%u peer_addr:%s peer_port:%u-%u\n", what,
                  rtp->ssrc, unsigned(rtp->udp_localport[0]), unsigned(rtp->udp_localport[1]), cc->peer_text,
                  unsigned(rtp->udp_peerport[0]), unsigned(rtp->udp_peerport[1]));
    }
    return rtp;
}

// One RTP packet to the viewer: its size, 0 when it must wait, -1 on error.
int rtp_tx_data(rtsp_client_connection* cc, rtp_connection* rtp, const uint8_t* data, int len)
{
    if (rtp->is_over_tcp) {
        uint8_t head[4] = {'$', rtp->tcp_interleaved[0], uint8_t(len >> 8), uint8_t(len)};
        struct iovec iov[2] = {{head, 4}, {const_cast<uint8_t*>(data), size_t(len)}};
        const int r = stream_send(cc, iov, 2, false);
        return r > 0 ? len : r;
    }
    struct sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr = rtp->peer_addr;
    to.sin_port = htons(rtp->udp_peerport[0]);
    const ssize_t n = sendto(rtp->udp_sockfd[0], data, size_t(len), MSG_NOSIGNAL | MSG_DONTWAIT,
                             reinterpret_cast<struct sockaddr*>(&to), sizeof(to));
    if (n < 0) {
        if (would_block(errno) || errno == ENOBUFS)
            return 0;
        if (!rtp->send_failed_logged) {
            RTSP_WARN("rtp over udp send %d bytes to %s failed: %s\n", len, cc->peer_text, strerror(errno));
            rtp->send_failed_logged = true;
        }
        return -1;
    }
    return len;
}

int rtcp_try_tx_sr(rtsp_client_connection* cc, rtp_connection* rtp, uint64_t ntptime_of_zero_ts, uint64_t ts,
                   uint32_t sample_rate)
{
    if (rtp->rtcp_sent && ts >= rtp->rtcp_last_ts && ts - rtp->rtcp_last_ts < kSrIntervalUs)
        return 0;
    const uint64_t ntp = ntptime_of_zero_ts + ts;
    const uint32_t sec = uint32_t(ntp / 1000000);
    const uint32_t frac = uint32_t(((ntp % 1000000) << 32) / 1000000);
    const uint32_t rtp_ts = uint32_t(ts * sample_rate / 1000000);
    uint8_t sr[32];
    uint8_t* p = sr + 4;
    auto put32 = [](uint8_t* q, uint32_t v) {
        q[0] = uint8_t(v >> 24);
        q[1] = uint8_t(v >> 16);
        q[2] = uint8_t(v >> 8);
        q[3] = uint8_t(v);
    };
    p[0] = 0x80;  // version 2, no padding, no report blocks
    p[1] = 200;
    p[2] = 0;
    p[3] = 6;
    put32(p + 4, rtp->ssrc);
    put32(p + 8, sec);
    put32(p + 12, frac);
    put32(p + 16, rtp_ts);
    put32(p + 20, rtp->rtcp_packet_count);
    put32(p + 24, rtp->rtcp_octet_count);
    if (rtp->is_over_tcp) {
        sr[0] = '$';
        sr[1] = rtp->tcp_interleaved[1];
        sr[2] = 0;
        sr[3] = 28;
        struct iovec iov = {sr, sizeof(sr)};
        const int r = stream_send(cc, &iov, 1, false);
        if (r <= 0)
            return r;
    } else {
        struct sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_addr = rtp->peer_addr;
        to.sin_port = htons(rtp->udp_peerport[1]);
        const ssize_t n = sendto(rtp->udp_sockfd[1], p, 28, MSG_NOSIGNAL | MSG_DONTWAIT,
                                 reinterpret_cast<struct sockaddr*>(&to), sizeof(to));
        if (n < 0) {
            if (would_block(errno) || errno == ENOBUFS)
                return 0;
            if (!rtp->send_failed_logged) {
                RTSP_WARN("rtcp over udp send %d bytes to %s failed: %s\n", 28, cc->peer_text, strerror(errno));
                rtp->send_failed_logged = true;
            }
            return -1;
        }
    }
    rtp->rtcp_sent = true;
    rtp->rtcp_last_ts = ts;
    return 28;
}

// Sends the viewer's packets of one medium (its RTP connection `rtp`, the
// session's ring `q`) from its ring position onwards, as far as it takes them.
void rtsp_tx_packets(rtsp_client_connection* cc, rtp_connection* rtp, stream_queue* q)
{
    if (!rtp || !q || cc->broken)
        return;
    while (streamq_inused(q, rtp->streamq_index) == 1) {
        char* pkt = nullptr;
        int* plen = nullptr;
        streamq_query(q, rtp->streamq_index, &pkt, &plen);
        if (*plen > 0) {
            uint8_t* h = reinterpret_cast<uint8_t*>(pkt);
            h[8] = uint8_t(rtp->ssrc >> 24);
            h[9] = uint8_t(rtp->ssrc >> 16);
            h[10] = uint8_t(rtp->ssrc >> 8);
            h[11] = uint8_t(rtp->ssrc);
            const int r = rtp_tx_data(cc, rtp, h, *plen);
            if (r == 0)
                break;  // the same packet next time
            if (r < 0 && rtp->is_over_tcp)
                break;  // the connection is gone
            if (r > 0) {
                rtp->rtcp_packet_count++;
                rtp->rtcp_octet_count += uint32_t(*plen - RTP_HEADER_SIZE);
            }
        }
        rtp->streamq_index = streamq_next(q, rtp->streamq_index);
    }
}

// ---- connections ----

void rtsp_del_rtp_connections(rtsp_client_connection* cc)
{
    rtp_connection_del(cc->vrtp);
    cc->vrtp = nullptr;
    rtp_connection_del(cc->artp);
    cc->artp = nullptr;
}

void rtsp_del_client_connection(rtsp_client_connection* cc)
{
    RTSP_INFO("delete client %d from %s\n", cc->sockfd, cc->peer_text);
    if (cc->session) {
        TAILQ_REMOVE(&cc->session->connections_qhead, cc, session_entry);
        cc->session = nullptr;
    }
    rtsp_del_rtp_connections(cc);
    TAILQ_REMOVE(&cc->demo->connections_qhead, cc, demo_entry);
    close_fd(cc->sockfd);
    std::free(cc);
}

void rtsp_new_client_connection(rtsp_demo* d)
{
    struct sockaddr_in inaddr {};
    socklen_t addrlen = sizeof(inaddr);
    const int sockfd = accept4(d->sockfd, reinterpret_cast<struct sockaddr*>(&inaddr), &addrlen, SOCK_CLOEXEC);
    if (sockfd < 0) {
        if (!would_block(errno) && errno != ECONNABORTED)
            RTSP_ERR("accept failed : %s\n", strerror(errno));
        return;
    }
    set_nonblocking(sockfd);
    int value = 0x80000;
    if (setsockopt(sockfd, SOL_SOCKET, SO_SNDBUF, &value, sizeof(value)) < 0)
        RTSP_WARN("setsockopt SO_SNDBUF failed: %s\n", strerror(errno));
    value = 1;
    if (setsockopt(sockfd, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof(value)) < 0)
        RTSP_WARN("setsockopt SO_KEEPALIVE failed: %s\n", strerror(errno));
    value = 60;
    if (setsockopt(sockfd, IPPROTO_TCP, TCP_KEEPIDLE, &value, sizeof(value)) < 0)
        RTSP_WARN("setsockopt TCP_KEEPIDLE failed: %s\n", strerror(errno));
    value = 3;
    if (setsockopt(sockfd, IPPROTO_TCP, TCP_KEEPINTVL, &value, sizeof(value)) < 0)
        RTSP_WARN("setsockopt TCP_KEEPINTVL failed: %s\n", strerror(errno));
    value = 5;
    if (setsockopt(sockfd, IPPROTO_TCP, TCP_KEEPCNT, &value, sizeof(value)) < 0)
        RTSP_WARN("setsockopt TCP_KEEPCNT failed: %s\n", strerror(errno));
    struct linger ling = {1, 0};
    if (setsockopt(sockfd, SOL_SOCKET, SO_LINGER, &ling, sizeof(ling)) < 0)
        RTSP_WARN("setsockopt SO_LINGER failed: %s\n", strerror(errno));

    auto* cc = static_cast<rtsp_client_connection*>(std::calloc(1, sizeof(rtsp_client_connection)));
    if (!cc) {
        RTSP_ERR("alloc memory for rtsp_session failed\n");
        close(sockfd);
        return;
    }
    cc->state = kConnStateInit;
    cc->sockfd = sockfd;
    cc->peer_addr = inaddr.sin_addr;
    cc->peer_port = ntohs(inaddr.sin_port);
    inet_ntop(AF_INET, &inaddr.sin_addr, cc->peer_text, sizeof(cc->peer_text));
    cc->demo = d;
    cc->pfd_tcp = -1;
    TAILQ_INSERT_TAIL(&d->connections_qhead, cc, demo_entry);
    RTSP_INFO("new rtsp client %s:%u comming\n", cc->peer_text, unsigned(cc->peer_port));
}

// One message from the connection: its size, 0 when none is complete yet,
// -1 when the connection must go.
int rtsp_recv_msg(rtsp_client_connection* cc, rtsp_msg_s* msg)
{
    if (cc->reqlen < kRequestBufferSize - 1) {
        const ssize_t n = recv(cc->sockfd, cc->reqbuf + cc->reqlen, size_t(kRequestBufferSize - 1 - cc->reqlen), 0);
        if (n == 0) {
            RTSP_DBG("peer closed\n");
            return -1;
        }
        if (n < 0 && !would_block(errno)) {
            RTSP_ERR("recv data failed: %s\n", strerror(errno));
            return -1;
        }
        if (n > 0)
            cc->reqlen += int(n);
        cc->reqbuf[cc->reqlen] = '\0';
    }
    const int used = rtsp_msg_parse_from_array(msg, cc->reqbuf, cc->reqlen);
    if (used < 0 || (used == 0 && cc->reqlen >= kRequestBufferSize - 1)) {
        RTSP_ERR("Invalid frame\n");
        return -1;
    }
    if (used == 0)
        return 0;
    std::memmove(cc->reqbuf, cc->reqbuf + used, size_t(cc->reqlen - used));
    cc->reqlen -= used;
    cc->reqbuf[cc->reqlen] = '\0';
    return used;
}

int rtsp_send_msg(rtsp_client_connection* cc, const rtsp_msg_s* msg)
{
    char buf[kRequestBufferSize];
    const int n = rtsp_msg_build_to_array(msg, buf, sizeof(buf));
    if (n < 0) {
        RTSP_ERR("rtsp_msg_build_to_array failed\n");
        return -1;
    }
    struct iovec iov = {buf, size_t(n)};
    if (stream_send(cc, &iov, 1, true) < 0) {
        RTSP_ERR("rtsp response send failed: %s\n", "connection broken");
        return -1;
    }
    return n;
}

void track_path(const rtsp_session* s, const char* track, char* out, size_t size)
{
    std::snprintf(out, size, "%.62s", s->path);
    const size_t used = std::strlen(out);
    std::snprintf(out + used, size - used, "/%s", track);
    out[62] = '\0';
}

int handle_options(rtsp_client_connection*, const rtsp_msg_s*, rtsp_msg_s* res)
{
    RTSP_DBG("\n");
    const uint32_t mask = (1u << RTSP_MSG_METHOD_OPTIONS) | (1u << RTSP_MSG_METHOD_DESCRIBE) |
                          (1u << RTSP_MSG_METHOD_SETUP) | (1u << RTSP_MSG_METHOD_PLAY) |
                          (1u << RTSP_MSG_METHOD_PAUSE) | (1u << RTSP_MSG_METHOD_TEARDOWN);
    return rtsp_msg_set_public(res, mask);
}

int handle_describe(rtsp_client_connection* cc, const rtsp_msg_s* req, rtsp_msg_s* res)
{
    RTSP_DBG("\n");
    uint32_t accept = 0;
    if (rtsp_msg_get_accept(req, &accept) < 0 || !(accept & (1u << RTSP_MSG_CONTENT_TYPE_SDP))) {
        rtsp_msg_set_response(res, 406);
        RTSP_WARN("client not support accept SDP\n");
        return 0;
    }
    const rtsp_session* s = cc->session;
    const rtsp_msg_uri_s& uri = req->hdrs.startline.reqline.uri;
    char base[160] = "";
    if (uri.ipaddr[0]) {
        const char* scheme = uri.scheme == RTSP_MSG_URI_SCHEME_RTSPU ? "rtspu://" : "rtsp://";
        if (uri.port)
            std::snprintf(base, sizeof(base), "%s%s:%u%s", scheme, uri.ipaddr, unsigned(uri.port), s->path);
        else
            std::snprintf(base, sizeof(base), "%s%s%s", scheme, uri.ipaddr, s->path);
    }
    char sdp[kRequestBufferSize];
    int n = std::snprintf(sdp, sizeof(sdp), "v=0\r\no=- 0 0 IN IP4 0.0.0.0\r\ns=rtsp_demo\r\nt=0 0\r\n"
                                            "a=control:%s\r\na=range:npt=0-\r\n",
                          base[0] ? base : "*");
    auto control = [&](const char* track) {
        if (n >= int(sizeof(sdp)))
            return;
        if (base[0])
            n += std::snprintf(sdp + n, sizeof(sdp) - size_t(n), "a=control:%s/%s\r\n", base, track);
        else
            n += std::snprintf(sdp + n, sizeof(sdp) - size_t(n), "a=control:%s\r\n", track);
    };
    if (s->video.codec_id != RTSP_CODEC_ID_NONE && n < int(sizeof(sdp))) {
        const int pt = s->video.rtpe.pt;
        const int rate = int(s->video.rtpe.sample_rate);
        if (s->video.codec_id == RTSP_CODEC_ID_VIDEO_H265)
            n += rtsp_build_sdp_media_attr_h265(pt, rate, &s->vcodec_data.h265, sdp + n, int(sizeof(sdp)) - n);
        else
            n += rtsp_build_sdp_media_attr_h264(pt, rate, &s->vcodec_data.h264, sdp + n, int(sizeof(sdp)) - n);
        control("track1");
    }
    if (s->audio.codec_id != RTSP_CODEC_ID_NONE && n < int(sizeof(sdp))) {
        const int pt = s->audio.rtpe.pt;
        const int rate = int(s->audio.rtpe.sample_rate);
        char* at = sdp + n;
        const int room = int(sizeof(sdp)) - n;
        switch (s->audio.codec_id) {
        case RTSP_CODEC_ID_AUDIO_G711A:
            n += rtsp_build_sdp_media_attr_g711a(pt, rate, at, room);
            break;
        case RTSP_CODEC_ID_AUDIO_G711U:
            n += rtsp_build_sdp_media_attr_g711u(pt, rate, at, room);
            break;
        case RTSP_CODEC_ID_AUDIO_G726:
            n += rtsp_build_sdp_media_attr_g726(pt, rate, &s->acodec_data.g726, at, room);
            break;
        default:
            n += rtsp_build_sdp_media_attr_aac(pt, &s->acodec_data.aac, at, room);
            break;
        }
        control("track2");
    }
    if (n >= int(sizeof(sdp)))
        n = int(sizeof(sdp)) - 1;
    rtsp_msg_set_content_type(res, RTSP_MSG_CONTENT_TYPE_SDP);
    rtsp_msg_set_content_length(res, n);
    res->body = std::malloc(size_t(n) + 1);
    if (!res->body) {
        rtsp_msg_set_content_length(res, 0);
        rtsp_msg_set_response(res, 500);
        return -1;
    }
    std::memcpy(res->body, sdp, size_t(n) + 1);
    return 0;
}

int handle_setup(rtsp_client_connection* cc, const rtsp_msg_s* req, rtsp_msg_s* res)
{
    RTSP_DBG("\n");
    const rtsp_msg_transport_s* t = req->hdrs.transport;
    if (!t) {
        rtsp_msg_set_response(res, 461);
        RTSP_WARN("rtsp no transport err\n");
        return 0;
    }
    if (t->type == RTSP_MSG_TRANSPORT_TYPE_RTP_AVP_TCP && !(t->flags & RTSP_MSG_TRANSPORT_FLAG_INTERLEAVED)) {
        rtsp_msg_set_response(res, 461);
        RTSP_WARN("rtsp no interleaved err\n");
        return 0;
    }
    if (t->type == RTSP_MSG_TRANSPORT_TYPE_RTP_AVP && !(t->flags & RTSP_MSG_TRANSPORT_FLAG_CLIENT_PORT)) {
        rtsp_msg_set_response(res, 461);
        RTSP_WARN("rtsp no client_port err\n");
        return 0;
    }
    rtsp_session* s = cc->session;
    const char* reqpath = req->hdrs.startline.reqline.uri.abspath;
    char vpath[64];
    char apath[64];
    track_path(s, "track1", vpath, sizeof(vpath));
    track_path(s, "track2", apath, sizeof(apath));
    rtp_connection** track = nullptr;
    const rtsp_media* media = nullptr;
    const char* what = nullptr;
    if (s->video.codec_id != RTSP_CODEC_ID_NONE && rtsp_path_match(vpath, reqpath)) {
        track = &cc->vrtp;
        media = &s->video;
        what = "video";
    } else if (s->audio.codec_id != RTSP_CODEC_ID_NONE && rtsp_path_match(apath, reqpath)) {
        track = &cc->artp;
        media = &s->audio;
        what = "audio";
    } else {
        rtsp_msg_set_response(res, 461);
        RTSP_WARN("rtsp urlpath:%s err\n", reqpath);
        return 0;
    }
    rtp_connection_del(*track);
    *track = rtp_connection_new(cc, *t, what);
    rtp_connection* rtp = *track;
    if (!rtp) {
        rtsp_msg_set_response(res, 500);
        return -1;
    }
    if (rtp->is_over_tcp)
        rtsp_msg_set_transport_tcp(res, rtp->ssrc, rtp->tcp_interleaved[0]);
    else
        rtsp_msg_set_transport_udp(res, rtp->ssrc, rtp->udp_peerport[0], rtp->udp_localport[0]);
    if (cc->state == kConnStatePlaying)
        rtp->streamq_index = streamq_tail(media->streamq);
    if (cc->state == kConnStateInit) {
        cc->state = kConnStateReady;
        cc->session_id = rtsp_msg_gen_session_id();
        rtsp_msg_set_session(res, cc->session_id);
    }
    return 0;
}

int handle_play(rtsp_client_connection* cc, const rtsp_msg_s*, rtsp_msg_s* res)
{
    RTSP_DBG("\n");
    if (cc->state == kConnStateInit) {
        rtsp_msg_set_response(res, 455);
        RTSP_WARN("rtsp status err\n");
        return 0;
    }
    if (cc->state == kConnStateReady) {
        if (cc->vrtp)
            cc->vrtp->streamq_index = streamq_tail(cc->session->video.streamq);
        if (cc->artp)
            cc->artp->streamq_index = streamq_tail(cc->session->audio.streamq);
        cc->state = kConnStatePlaying;
    }
    return 0;
}

int handle_pause(rtsp_client_connection* cc, const rtsp_msg_s*, rtsp_msg_s* res)
{
    RTSP_DBG("\n");
    if (cc->state == kConnStateInit) {
        rtsp_msg_set_response(res, 455);
        RTSP_WARN("rtsp status err\n");
        return 0;
    }
    if (cc->state == kConnStatePlaying)
        cc->state = kConnStateReady;
    return 0;
}

int handle_teardown(rtsp_client_connection* cc, const rtsp_msg_s* req, rtsp_msg_s*)
{
    RTSP_DBG("\n");
    const char* reqpath = req->hdrs.startline.reqline.uri.abspath;
    char vpath[64];
    char apath[64];
    track_path(cc->session, "track1", vpath, sizeof(vpath));
    track_path(cc->session, "track2", apath, sizeof(apath));
    if (rtsp_path_match(vpath, reqpath)) {
        rtp_connection_del(cc->vrtp);
        cc->vrtp = nullptr;
    } else if (rtsp_path_match(apath, reqpath)) {
        rtp_connection_del(cc->artp);
        cc->artp = nullptr;
    } else {
        rtsp_del_rtp_connections(cc);
    }
    if (!cc->vrtp && !cc->artp)
        cc->state = kConnStateInit;
    return 0;
}

int rtsp_process_request(rtsp_client_connection* cc, const rtsp_msg_s* req, rtsp_msg_s* res)
{
    rtsp_msg_set_response(res, 200);
    rtsp_msg_set_date(res, nullptr);
    rtsp_msg_set_server(res, "rtsp_demo");

    uint32_t cseq = 0;
    if (rtsp_msg_get_cseq(req, &cseq) < 0) {
        rtsp_msg_set_response(res, 400);
        RTSP_WARN("No CSeq field\n");
        return 0;
    }
    rtsp_msg_set_cseq(res, cseq);

    if (cc->state != kConnStateInit) {
        uint32_t session = 0;
        if (rtsp_msg_get_session(req, &session) < 0 || session != cc->session_id) {
            rtsp_msg_set_response(res, 454);
            RTSP_WARN("Invalid Session field\n");
            return 0;
        }
        rtsp_msg_set_session(res, session);
    }

    const rtsp_msg_method_e method = req->hdrs.startline.reqline.method;
    const char* path = req->hdrs.startline.reqline.uri.abspath;
    if (cc->session) {
        if (!rtsp_path_match(cc->session->path, path)) {
            rtsp_msg_set_response(res, 451);
            RTSP_WARN("path is not matched %s (old:%s)\n", path, cc->session->path);
            return 0;
        }
    } else if (method != RTSP_MSG_METHOD_OPTIONS) {
        rtsp_session* s = nullptr;
        TAILQ_FOREACH(s, &cc->demo->sessions_qhead, demo_entry)
        {
            if (rtsp_path_match(s->path, path))
                break;
        }
        if (!s) {
            rtsp_msg_set_response(res, 454);
            RTSP_WARN("Not found session path: %s\n", path);
            return 0;
        }
        cc->session = s;
        TAILQ_INSERT_TAIL(&s->connections_qhead, cc, session_entry);
    }

    switch (method) {
    case RTSP_MSG_METHOD_OPTIONS:
        return handle_options(cc, req, res);
    case RTSP_MSG_METHOD_DESCRIBE:
        return handle_describe(cc, req, res);
    case RTSP_MSG_METHOD_SETUP:
        return handle_setup(cc, req, res);
    case RTSP_MSG_METHOD_PLAY:
        return handle_play(cc, req, res);
    case RTSP_MSG_METHOD_PAUSE:
        return handle_pause(cc, req, res);
    case RTSP_MSG_METHOD_TEARDOWN:
        return handle_teardown(cc, req, res);
    default:
        rtsp_msg_set_response(res, 501);
        return 0;
    }
}

// Reads one datagram from a viewer's UDP socket; follows the viewer's port
// when the datagram came from the viewer's own address.
void rtsp_recv_udp(rtsp_client_connection* cc, rtp_connection* rtp, int which)
{
    char buf[128];
    struct sockaddr_in from {};
    socklen_t fromlen = sizeof(from);
    const ssize_t n = recvfrom(rtp->udp_sockfd[which], buf, sizeof(buf), MSG_DONTWAIT,
                               reinterpret_cast<struct sockaddr*>(&from), &fromlen);
    if (n < 0 || fromlen < sizeof(from) || from.sin_family != AF_INET)
        return;
    if (from.sin_addr.s_addr != rtp->peer_addr.s_addr)
        return;  // not from this viewer: never redirects its stream
    const uint16_t port = ntohs(from.sin_port);
    if (port != rtp->udp_peerport[which]) {
        if (which == 0)
            RTSP_INFO("rtp over udp peer %s port change %u to %u\n", cc->peer_text, unsigned(rtp->udp_peerport[0]),
                      unsigned(port));
        else
            RTSP_INFO("rtcp over udp peer %s port change %u to %u\n", cc->peer_text, unsigned(rtp->udp_peerport[1]),
                      unsigned(port));
        rtp->udp_peerport[which] = port;
    }
}

bool readable(const rtsp_demo* d, int index)
{
    return index >= 0 && (d->pfds[size_t(index)].revents & (POLLIN | POLLHUP | POLLERR));
}

int add_pfd(rtsp_demo* d, int fd)
{
    d->pfds.push_back(pollfd{fd, POLLIN, 0});
    return int(d->pfds.size()) - 1;
}

// Sets a medium's codec and packetiser state; its ring is allocated once.
int set_media(rtsp_media* m, int codec_id, uint8_t pt, uint32_t sample_rate, int packets, const char* what)
{
    m->codec_id = codec_id;
    m->rtpe.pt = pt;
    m->rtpe.seq = 0;
    m->rtpe.ssrc = 0;
    m->rtpe.sample_rate = sample_rate;
    if (!m->streamq) {
        m->streamq = streamq_alloc(kPacketSize, packets);
        if (!m->streamq) {
            RTSP_ERR("alloc memory for %s rtp queue failed\n", what);
            m->codec_id = RTSP_CODEC_ID_NONE;
            return -1;
        }
    }
    return 0;
}

bool is_plain_audio(int codec_id)
{
    return codec_id == RTSP_CODEC_ID_AUDIO_G711A || codec_id == RTSP_CODEC_ID_AUDIO_G711U ||
           codec_id == RTSP_CODEC_ID_AUDIO_G726;
}

// The next unit of a frame for the medium's packetiser: a NAL unit (start
// code included), an ADTS frame, or the whole of plain audio.
const uint8_t* next_unit(int codec_id, const uint8_t* p, int left, int* unit_len)
{
    if (codec_id == RTSP_CODEC_ID_AUDIO_AAC)
        return rtsp_find_aac_adts(p, left, unit_len);
    if (is_plain_audio(codec_id)) {
        *unit_len = left;
        return p;
    }
    return rtsp_find_h264_h265_nalu(p, left, unit_len);
}

int encode_unit(rtsp_media* m, const uint8_t* unit, int len, uint64_t ts, uint8_t* pkts[], int sizes[])
{
    switch (m->codec_id) {
    case RTSP_CODEC_ID_VIDEO_H265:
        return rtp_enc_h265(&m->rtpe, unit, len, ts, pkts, sizes);
    case RTSP_CODEC_ID_AUDIO_AAC:
        return rtp_enc_aac(&m->rtpe, unit, len, ts, pkts, sizes);
    case RTSP_CODEC_ID_AUDIO_G711A:
    case RTSP_CODEC_ID_AUDIO_G711U:
        return rtp_enc_g711(&m->rtpe, unit, len, ts, pkts, sizes);
    case RTSP_CODEC_ID_AUDIO_G726:
        return rtp_enc_g726(&m->rtpe, unit, len, ts, pkts, sizes);
    default:
        return rtp_enc_h264(&m->rtpe, unit, len, ts, pkts, sizes);
    }
}

const char* encoder_name(int codec_id)
{
    switch (codec_id) {
    case RTSP_CODEC_ID_VIDEO_H265:
        return "rtp_enc_h265";
    case RTSP_CODEC_ID_AUDIO_AAC:
        return "rtp_enc_aac";
    case RTSP_CODEC_ID_AUDIO_G726:
        return "rtp_enc_g726";
    case RTSP_CODEC_ID_AUDIO_G711A:
    case RTSP_CODEC_ID_AUDIO_G711U:
        return "rtp_enc_g711";
    default:
        return "rtp_enc_h264";
    }
}

// Bytes of a unit that the payload of fragments carries (what is left after
// its start code or ADTS header and the header bytes the packet format
// rewrites), and the bytes before that payload in each fragment.
int fragment_payload(int codec_id, const uint8_t* unit, int len, int* fragment_header)
{
    const int start_code = (len >= 3 && unit[2] == 1) ? 3 : 4;
    switch (codec_id) {
    case RTSP_CODEC_ID_VIDEO_H264:
        *fragment_header = RTP_HEADER_SIZE + 2;
        return len - start_code - 1;
    case RTSP_CODEC_ID_VIDEO_H265:
        *fragment_header = RTP_HEADER_SIZE + 3;
        return len - start_code - 2;
    case RTSP_CODEC_ID_AUDIO_AAC:
        *fragment_header = RTP_HEADER_SIZE + 4;
        return len - ((unit[1] & 0x01) ? 7 : 9);
    default:
        *fragment_header = RTP_HEADER_SIZE;
        return len;
    }
}

// Takes the parameter sets or the audio configuration from the stream while
// the session has none yet.
void take_codec_data_from_frame(rtsp_session* s, rtsp_media* m, const uint8_t* frame, int len)
{
    if (m->codec_id == RTSP_CODEC_ID_VIDEO_H264 && s->vcodec_data.h264.pps_len == 0)
        rtsp_codec_data_parse_from_frame_h264(frame, len, &s->vcodec_data.h264);
    else if (m->codec_id == RTSP_CODEC_ID_VIDEO_H265 && s->vcodec_data.h265.pps_len == 0)
        rtsp_codec_data_parse_from_frame_h265(frame, len, &s->vcodec_data.h265);
    else if (m->codec_id == RTSP_CODEC_ID_AUDIO_AAC && s->acodec_data.aac.config_len == 0 &&
             rtsp_codec_data_parse_from_frame_aac(frame, len, &s->acodec_data.aac) > 0)
        m->rtpe.sample_rate = s->acodec_data.aac.sample_rate;
}

// Queues one frame of a medium into its ring and sends what the playing
// viewers of that medium can take. `len`, or -1.
int tx_media(rtsp_session* s, rtsp_media* m, bool audio, const uint8_t* frame, int len, uint64_t ts)
{
    if (!frame || len <= 0 || m->codec_id == RTSP_CODEC_ID_NONE || !m->streamq)
        return -1;
    stream_queue* q = m->streamq;
    const char* what = audio ? "audio" : "video";
    auto rtp_of = [audio](rtsp_client_connection* c) { return audio ? c->artp : c->vrtp; };

    // Reserve the slots from the tail onwards, dropping the oldest packets
    // wherever the ring would run into its head (never more than the ring holds).
    int slots[kMaxFramePackets];
    const int reserve = streamq_size(q) - 1 < kMaxFramePackets ? streamq_size(q) - 1 : kMaxFramePackets;
    int nslots = 0;
    for (int idx = streamq_tail(q); nslots < reserve; idx = streamq_next(q, idx)) {
        if (streamq_next(q, idx) == streamq_head(q))
            streamq_pop(q);
        slots[nslots++] = idx;
    }

    rtsp_client_connection* cc = nullptr;
    TAILQ_FOREACH(cc, &s->connections_qhead, session_entry)
    {
        rtp_connection* rtp = rtp_of(cc);
        if (cc->state != kConnStatePlaying || !rtp)
            continue;
        const int pos = rtp->streamq_index;
        if (!streamq_inused(q, pos) && pos != streamq_tail(q)) {
            RTSP_WARN("client %s will lost %s packet\n", cc->peer_text, what);
            rtp->streamq_index = streamq_head(q);
        }
    }

    take_codec_data_from_frame(s, m, frame, len);

    uint8_t* pkts[kMaxFramePackets + 1];
    int sizes[kMaxFramePackets + 1];
    int used = 0;
    const uint8_t* p = frame;
    int left = len;
    int unsent = 0;
    bool found = false;
    while (left > 0 && used < nslots) {
        int unit_len = 0;
        const uint8_t* unit = next_unit(m->codec_id, p, left, &unit_len);
        if (!unit) {
            if (!found && m->codec_id == RTSP_CODEC_ID_AUDIO_AAC)
                RTSP_WARN("not found adts header\n");
            else if (!found)
                RTSP_WARN("not found nal header\n");
            break;
        }
        found = true;
        for (int i = used; i < nslots; ++i) {
            char* slot = nullptr;
            streamq_query(q, slots[i], &slot, nullptr);
            pkts[i - used] = reinterpret_cast<uint8_t*>(slot);
            sizes[i - used] = kPacketSize;
        }
        pkts[nslots - used] = nullptr;
        sizes[nslots - used] = 0;
        const int n = encode_unit(m, unit, unit_len, ts, pkts, sizes);
        if (n < 0) {
            RTSP_ERR("%s ret = %d\n", encoder_name(m->codec_id), n);
            return -1;
        }
        int fragment_header = 0;
        const int payload = fragment_payload(m->codec_id, unit, unit_len, &fragment_header);
        int carried = 0;
        for (int i = 0; i < n; ++i) {
            int* plen = nullptr;
            streamq_query(q, slots[used + i], nullptr, &plen);
            *plen = sizes[i];
            carried += sizes[i] - fragment_header;
        }
        // Out of slots inside this unit: the fragments carried only part of it.
        const bool whole = is_plain_audio(m->codec_id) ? carried >= payload : (n > 0 && (pkts[n - 1][1] & 0x80));
        if (!whole)
            unsent += payload - carried;
        used += n;
        left -= int(unit - p) + unit_len;
        p = unit + unit_len;
    }
    unsent += left;
    if (found && unsent > 0)
        RTSP_WARN("frame of %d bytes does not fit %d packets, %d bytes not sent\n", len, nslots, unsent);
    for (int i = 0; i < used; ++i)
        streamq_push(q);

    TAILQ_FOREACH(cc, &s->connections_qhead, session_entry)
    {
        rtp_connection* rtp = rtp_of(cc);
        if (cc->state != kConnStatePlaying || !rtp || cc->broken)
            continue;
        rtcp_try_tx_sr(cc, rtp, m->ntptime_of_zero_ts, ts, m->rtpe.sample_rate);
        rtsp_tx_packets(cc, rtp, q);
    }
    return len;
}

}  // namespace

// ---- public interface ----

int rtsp_demo_port_from_environment()
{
    const char* text = std::getenv("ORVALE_RTSP_PORT");
    if (!text || !*text)
        return 554;
    char* end = nullptr;
    errno = 0;
    const long port = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || port < 1 || port > 65535) {
        RTSP_WARN("ORVALE_RTSP_PORT \"%s\" is not a port from 1 to 65535, using 554\n", text);
        return 554;
    }
    return int(port);
}

rtsp_demo_handle create_rtsp_demo(int port)
{
    return rtsp_new_demo(port);
}

rtsp_demo_handle rtsp_new_demo(int port)
{
    if (port < 1)
        port = 554;
    rtsp_demo* d = new (std::nothrow) rtsp_demo();
    if (!d) {
        RTSP_ERR("alloc memory for rtsp_demo failed\n");
        return nullptr;
    }
    TAILQ_INIT(&d->sessions_qhead);
    TAILQ_INIT(&d->connections_qhead);
    d->sockfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (d->sockfd < 0) {
        RTSP_ERR("create socket failed : %s\n", strerror(errno));
        delete d;
        return nullptr;
    }
    // A restarted program gets its port back while old connections linger.
    int on = 1;
    setsockopt(d->sockfd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(uint16_t(port));
    if (bind(d->sockfd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) < 0) {
        RTSP_ERR("cannot listen on RTSP port %d (%s): no live stream, detection runs on\n", port, strerror(errno));
        close(d->sockfd);
        delete d;
        return nullptr;
    }
    if (listen(d->sockfd, 128) < 0) {
        RTSP_ERR("listen socket failed : %s\n", strerror(errno));
        close(d->sockfd);
        delete d;
        return nullptr;
    }
    // Accepting never blocks, even when a client resets between poll and accept.
    set_nonblocking(d->sockfd);
    RTSP_INFO("rtsp server demo starting on port %d\n", port);
    return d;
}

void rtsp_del_demo(rtsp_demo_handle d)
{
    if (!d)
        return;
    while (!TAILQ_EMPTY(&d->connections_qhead))
        rtsp_del_client_connection(TAILQ_FIRST(&d->connections_qhead));
    while (!TAILQ_EMPTY(&d->sessions_qhead))
        rtsp_del_session(TAILQ_FIRST(&d->sessions_qhead));
    close_fd(d->sockfd);
    delete d;
}

rtsp_session_handle rtsp_new_session(rtsp_demo_handle d, const char* path)
{
    if (!d || !path || !*path) {
        RTSP_ERR("param invalid\n");
        return nullptr;
    }
    rtsp_session* s = nullptr;
    TAILQ_FOREACH(s, &d->sessions_qhead, demo_entry)
    {
        if (rtsp_path_match(s->path, path) || rtsp_path_match(path, s->path)) {
            RTSP_ERR("path:%s (%s) is exist!!!\n", s->path, path);
            return nullptr;
        }
    }
    s = static_cast<rtsp_session*>(std::calloc(1, sizeof(rtsp_session)));
    if (!s) {
        RTSP_ERR("alloc memory for rtsp_session failed\n");
        return nullptr;
    }
    std::snprintf(s->path, sizeof(s->path), "%s", path);
    s->demo = d;
    TAILQ_INIT(&s->connections_qhead);
    TAILQ_INSERT_TAIL(&d->sessions_qhead, s, demo_entry);
    RTSP_DBG("add session path: %s\n", s->path);
    return s;
}

rtsp_session_handle create_rtsp_session(rtsp_demo_handle d, const char* path)
{
    rtsp_session* s = rtsp_new_session(d, path);
    if (s && rtsp_set_video(s, RTSP_CODEC_ID_VIDEO_H264, nullptr, 0) < 0) {
        rtsp_del_session(s);
        return nullptr;
    }
    return s;
}

void rtsp_del_session(rtsp_session_handle s)
{
    if (!s)
        return;
    while (!TAILQ_EMPTY(&s->connections_qhead))
        rtsp_del_client_connection(TAILQ_FIRST(&s->connections_qhead));
    RTSP_DBG("del session path: %s\n", s->path);
    TAILQ_REMOVE(&s->demo->sessions_qhead, s, demo_entry);
    streamq_free(s->video.streamq);
    streamq_free(s->audio.streamq);
    std::free(s);
}

int rtsp_set_video(rtsp_session_handle s, int codec_id, const uint8_t* codec_data, int data_len)
{
    if (!s || (s->video.codec_id != RTSP_CODEC_ID_NONE && s->video.codec_id != codec_id))
        return -1;
    if (codec_id != RTSP_CODEC_ID_VIDEO_H264 && codec_id != RTSP_CODEC_ID_VIDEO_H265) {
        RTSP_ERR("not supported codec_id %d for video\n", codec_id);
        return -1;
    }
    std::memset(&s->vcodec_data, 0, sizeof(s->vcodec_data));
    if (codec_data && data_len > 0) {
        const int parsed = codec_id == RTSP_CODEC_ID_VIDEO_H265
                               ? rtsp_codec_data_parse_from_user_h265(codec_data, data_len, &s->vcodec_data.h265)
                               : rtsp_codec_data_parse_from_user_h264(codec_data, data_len, &s->vcodec_data.h264);
        if (parsed <= 0)
            RTSP_WARN("parse codec_data failed\n");
    }
    return set_media(&s->video, codec_id, 96, 90000, kVideoPackets, "video");
}

int rtsp_set_audio(rtsp_session_handle s, int codec_id, const uint8_t* codec_data, int data_len)
{
    if (!s || (s->audio.codec_id != RTSP_CODEC_ID_NONE && s->audio.codec_id != codec_id))
        return -1;
    if (codec_id != RTSP_CODEC_ID_AUDIO_G711A && codec_id != RTSP_CODEC_ID_AUDIO_G711U &&
        codec_id != RTSP_CODEC_ID_AUDIO_G726 && codec_id != RTSP_CODEC_ID_AUDIO_AAC) {
        RTSP_ERR("not supported codec_id %d for audio\n", codec_id);
        return -1;
    }
    std::memset(&s->acodec_data, 0, sizeof(s->acodec_data));
    uint32_t rate = 8000;
    if (codec_data && data_len > 0) {
        int parsed = 1;
        if (codec_id == RTSP_CODEC_ID_AUDIO_G726)
            parsed = rtsp_codec_data_parse_from_user_g726(codec_data, data_len, &s->acodec_data.g726);
        else if (codec_id == RTSP_CODEC_ID_AUDIO_AAC)
            parsed = rtsp_codec_data_parse_from_user_aac(codec_data, data_len, &s->acodec_data.aac);
        if (parsed <= 0)
            RTSP_WARN("parse codec_data failed\n");
        else if (codec_id == RTSP_CODEC_ID_AUDIO_AAC)
            rate = s->acodec_data.aac.sample_rate;
    }
    return set_media(&s->audio, codec_id, 97, rate, kAudioPackets, "audio");
}

int rtsp_sync_video_ts(rtsp_session_handle s, uint64_t ts, uint64_t ntptime)
{
    if (!s || s->video.codec_id == RTSP_CODEC_ID_NONE)
        return -1;
    s->video.ntptime_of_zero_ts = ntptime - ts;
    return 0;
}

int rtsp_sync_audio_ts(rtsp_session_handle s, uint64_t ts, uint64_t ntptime)
{
    if (!s || s->audio.codec_id == RTSP_CODEC_ID_NONE)
        return -1;
    s->audio.ntptime_of_zero_ts = ntptime - ts;
    return 0;
}

int rtsp_tx_video(rtsp_session_handle s, const uint8_t* frame, int len, uint64_t ts)
{
    return s ? tx_media(s, &s->video, false, frame, len, ts) : -1;
}

int rtsp_tx_audio(rtsp_session_handle s, const uint8_t* frame, int len, uint64_t ts)
{
    return s ? tx_media(s, &s->audio, true, frame, len, ts) : -1;
}

int rtsp_sever_tx_video(rtsp_demo_handle, rtsp_session_handle s, const uint8_t* frame, int len, uint64_t ts)
{
    return rtsp_tx_video(s, frame, len, ts);
}

int rtsp_do_event(rtsp_demo_handle d)
{
    if (!d)
        return -1;
    d->pfds.clear();
    const int listen_index = add_pfd(d, d->sockfd);
    rtsp_client_connection* cc = nullptr;
    TAILQ_FOREACH(cc, &d->connections_qhead, demo_entry)
    {
        cc->pfd_tcp = add_pfd(d, cc->sockfd);
        for (rtp_connection* rtp : {cc->vrtp, cc->artp}) {
            for (int i = 0; rtp && i < 2; ++i)
                rtp->pfd_udp[i] = rtp->is_over_tcp ? -1 : add_pfd(d, rtp->udp_sockfd[i]);
        }
    }
    const int ready = poll(d->pfds.data(), d->pfds.size(), 0);
    if (ready < 0) {
        if (errno == EINTR)
            return 0;
        RTSP_ERR("select failed : %s\n", strerror(errno));
        return -1;
    }

    rtsp_client_connection* next = nullptr;
    for (cc = TAILQ_FIRST(&d->connections_qhead); cc; cc = next) {
        next = TAILQ_NEXT(cc, demo_entry);
        if (cc->pfd_tcp < 0)
            continue;  // accepted in this pass
        flush_out(cc);
        if (!cc->broken && (readable(d, cc->pfd_tcp) || cc->more_to_read)) {
            // At most a few messages per pass; what is left is read in the next pass.
            cc->more_to_read = true;
            for (int i = 0; i < kMaxRequestsPerPass && !cc->broken; ++i) {
                // Answers wait in the stream; a client that sends but does not read stops being read.
                if (int(sizeof(cc->outbuf)) - (cc->outlen - cc->outoff) < kRequestBufferSize)
                    break;
                rtsp_msg_s req;
                rtsp_msg_init(&req);
                const int r = rtsp_recv_msg(cc, &req);
                if (r == 0) {
                    cc->more_to_read = false;
                    break;
                }
                if (r < 0) {
                    cc->broken = true;
                    break;
                }
                if (req.type == RTSP_MSG_TYPE_REQUEST) {
                    rtsp_msg_s res;
                    rtsp_msg_init(&res);
                    if (rtsp_process_request(cc, &req, &res) < 0)
                        RTSP_ERR("request internal err\n");
                    rtsp_send_msg(cc, &res);
                    rtsp_msg_free(&res);
                } else if (req.type == RTSP_MSG_TYPE_RESPONSE) {
                    RTSP_ERR("not request frame.\n");
                }
                rtsp_msg_free(&req);
            }
        }
        if (!cc->broken && cc->state == kConnStatePlaying && cc->session) {
            rtsp_tx_packets(cc, cc->vrtp, cc->session->video.streamq);
            rtsp_tx_packets(cc, cc->artp, cc->session->audio.streamq);
            for (rtp_connection* rtp : {cc->vrtp, cc->artp}) {
                for (int i = 0; rtp && i < 2 && !rtp->is_over_tcp; ++i) {
                    if (readable(d, rtp->pfd_udp[i]))
                        rtsp_recv_udp(cc, rtp, i);
                }
            }
        }
        if (cc->broken)
            rtsp_del_client_connection(cc);
    }

    if (readable(d, listen_index)) {
        for (int i = 0; i < 8; ++i) {
            rtsp_client_connection* last = TAILQ_LAST(&d->connections_qhead, rtsp_client_connection_queue_head);
            rtsp_new_client_connection(d);
            if (TAILQ_LAST(&d->connections_qhead, rtsp_client_connection_queue_head) == last)
                break;  // nothing more waiting
        }
    }
    return ready > 0 ? 1 : 0;
}

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
    return rtsp_get_abstime() + kNtpOffsetUs;
}
