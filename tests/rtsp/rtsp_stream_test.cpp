// The RTSP server's stream: RTP and RTCP over TCP and UDP as the viewer sees
// them, the packet ring's overrun, viewers that stall, flood, vanish or
// send from elsewhere.
#include "rtsp/rtsp_demo.h"
#include "rtspserverfixture.h"
#include "support/rtsplogcapture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

namespace {

using rtsptest::exchange;
using rtsptest::RtspServer;
using testsupport::InterleavedFrame;
using testsupport::RtcpSenderReport;
using testsupport::RtpPacket;
using testsupport::RtspScriptedClient;

// Packet sizes of rtsptest::keyFrame(3000): SPS, PPS, then the slice in three fragments.
const std::vector<int> kKeyFrameSizes = {32, 18, 1456, 1456, 129};

void expectSenderReport(const RtcpSenderReport& sr, const RtspServer& s, uint32_t ssrc, uint32_t packets,
                        uint32_t octets)
{
    const uint64_t ntp = s.syncNtp - s.syncTs + s.lastTs;
    EXPECT_EQ(sr.ssrc, ssrc);
    EXPECT_EQ(sr.ntpSeconds, uint32_t(ntp / 1000000));
    EXPECT_EQ(sr.ntpFraction, uint32_t(((ntp % 1000000) << 32) / 1000000));
    EXPECT_EQ(sr.rtpTimestamp, uint32_t(s.lastTs * 90000 / 1000000));
    EXPECT_EQ(sr.packetCount, packets);
    EXPECT_EQ(sr.octetCount, octets);
}

// Takes every interleaved frame the server has for `c` until none comes for a while.
std::vector<InterleavedFrame> drain(RtspScriptedClient& c, int quietMs = 100)
{
    std::vector<InterleavedFrame> out;
    while (auto f = c.readInterleaved(quietMs))
        out.push_back(*f);
    return out;
}

TEST(RtspStream, RtpAndSenderReportsOverTcp)
{
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));
    uint32_t ssrc = 0;
    ASSERT_FALSE(rtsptest::playOverTcp(s, c, &ssrc).empty());

    s.sendFrame(rtsptest::keyFrame());
    auto frame = c.readInterleaved();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->channel, 1);
    auto sr = RtcpSenderReport::parse(frame->data);
    ASSERT_TRUE(sr) << frame->data.size();
    expectSenderReport(*sr, s, ssrc, 0, 0);

    const uint32_t rtpTs = uint32_t(s.lastTs * 90000 / 1000000);
    uint32_t packets = 0;
    uint32_t octets = 0;
    const std::vector<bool> markers = {true, true, false, false, true};
    for (size_t i = 0; i < kKeyFrameSizes.size(); ++i) {
        frame = c.readInterleaved();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->channel, 0);
        const auto p = RtpPacket::parse(frame->data);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->size, kKeyFrameSizes[i]);
        EXPECT_EQ(p->payloadType, 96);
        EXPECT_EQ(p->seq, i);
        EXPECT_EQ(p->timestamp, rtpTs);
        EXPECT_EQ(p->ssrc, ssrc);
        EXPECT_EQ(p->marker, markers[i]);
        ++packets;
        octets += uint32_t(p->size - 12);
    }

    // The next frame within 5 s of media time: packets, no report.
    s.sendFrame(rtsptest::deltaFrame(100));
    frame = c.readInterleaved();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->channel, 0);
    EXPECT_EQ(RtpPacket::parse(frame->data)->seq, 5);
    packets += 1;
    octets += 100;

    // 5 s of media time after the first report: the next one, with what went before it.
    s.ts += 5000000 - 100000;
    s.sendFrame(rtsptest::deltaFrame(100));
    frame = c.readInterleaved();
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->channel, 1);
    sr = RtcpSenderReport::parse(frame->data);
    ASSERT_TRUE(sr);
    expectSenderReport(*sr, s, ssrc, packets, octets);
}

TEST(RtspStream, RtpAndSenderReportsOverUdp)
{
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));
    testsupport::RtpUdpReceiver rx(s.pumper());
    ASSERT_TRUE(rx.ok());
    const auto setup = rtsptest::playOverUdp(s, c, rx);
    const uint16_t serverPort = rtsptest::serverPort(setup);
    ASSERT_NE(serverPort, 0);
    const uint32_t ssrc = rtsptest::ssrcOf(setup);

    s.sendFrame(rtsptest::keyFrame());
    uint16_t from = 0;
    auto dgram = rx.read(1, 2000, &from);
    ASSERT_TRUE(dgram);
    EXPECT_EQ(from, serverPort + 1);
    const auto sr = RtcpSenderReport::parse(*dgram);
    ASSERT_TRUE(sr);
    expectSenderReport(*sr, s, ssrc, 0, 0);
    for (size_t i = 0; i < kKeyFrameSizes.size(); ++i) {
        dgram = rx.read(0, 2000, &from);
        ASSERT_TRUE(dgram);
        EXPECT_EQ(from, serverPort);
        const auto p = RtpPacket::parse(*dgram);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->size, kKeyFrameSizes[i]);
        EXPECT_EQ(p->seq, i);
        EXPECT_EQ(p->ssrc, ssrc);
    }
}

TEST(RtspStream, FrameBeyondThreeHundredPacketsIsCutWithAWarning)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));
    ASSERT_FALSE(rtsptest::playOverTcp(s, c).empty());
    // 300 fragments carry 432,600 bytes of the unit; 1,000 more do not fit.
    const int unit = 1 + 300 * 1442 + 1000;
    s.sendFrame(rtsptest::nalUnit(1, unit));
    EXPECT_TRUE(log.contains("frame of " + std::to_string(unit + 4) + " bytes does not fit 300 packets, 1000 bytes "
                             "not sent",
                             RTSP_LOG_WARN));
    c.setReceiveBuffer(1 << 20);
    const auto frames = drain(c);
    ASSERT_EQ(frames.size(), 301u);  // the report and 300 whole packets
    for (size_t i = 1; i < frames.size(); ++i)
        ASSERT_EQ(RtpPacket::parse(frames[i].data)->size, 1456);
}

TEST(RtspStream, PlayStartsAtTheNewestPacket)
{
    RtspServer s;
    ASSERT_TRUE(s.ok());
    for (int i = 0; i < 3; ++i)
        s.sendFrame(rtsptest::keyFrame());
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));
    ASSERT_FALSE(rtsptest::playOverTcp(s, c).empty());
    EXPECT_FALSE(c.readInterleaved(200));  // nothing old
    s.sendFrame(rtsptest::deltaFrame(100));
    const auto frames = drain(c);
    ASSERT_EQ(frames.size(), 2u);  // the report and the one new packet
    EXPECT_EQ(RtpPacket::parse(frames[1].data)->seq, 15);
}

// A viewer that stops reading loses whole packets once the ring passes it,
// and its stream stays well-formed: every frame is a whole RTP packet or
// sender report.
TEST(RtspStream, StalledViewerLosesWholePacketsOnly)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient c(s.pumper());
    c.setReceiveBuffer(4096);
    ASSERT_TRUE(c.connectTo(s.port));
    uint32_t ssrc = 0;
    ASSERT_FALSE(rtsptest::playOverTcp(s, c, &ssrc).empty());
    // 100 frames of 21 packets: more than the ring and the socket buffers hold.
    const int frameCount = 100;
    for (int i = 0; i < frameCount; ++i)
        s.sendFrame(rtsptest::nalUnit(1, 30000));
    EXPECT_TRUE(log.contains("client 127.0.0.1 will lost video packet", RTSP_LOG_WARN));

    c.setReceiveBuffer(1 << 20);
    const auto frames = drain(c, 300);
    ASSERT_FALSE(frames.empty());
    int lastSeq = -1;
    int gaps = 0;
    for (const auto& f : frames) {
        if (f.channel == 1) {
            EXPECT_TRUE(RtcpSenderReport::parse(f.data));
            continue;
        }
        ASSERT_EQ(f.channel, 0);
        const auto p = RtpPacket::parse(f.data);
        ASSERT_TRUE(p);
        ASSERT_EQ(p->payloadType, 96);
        ASSERT_EQ(p->ssrc, ssrc);
        // Whole FU-A fragments of the 30000-byte unit: 1456 bytes, or the last one of 1214.
        ASSERT_TRUE(p->size == 1456 || p->size == 14 + (29999 - 20 * 1442)) << p->size;
        if (lastSeq >= 0 && p->seq != uint16_t(lastSeq + 1))
            ++gaps;
        lastSeq = p->seq;
    }
    EXPECT_GT(gaps, 0);
    EXPECT_EQ(c.pending(), "");  // no torn frame left over
    // Caught up, it gets every packet again.
    s.sendFrame(rtsptest::deltaFrame(100));
    const auto more = drain(c);
    ASSERT_FALSE(more.empty());
    EXPECT_EQ(RtpPacket::parse(more.back().data)->seq, uint16_t(frameCount * 21));
}

// One viewer stalls; one floods the server with interleaved frames; one
// pipelines requests without ever reading the answers; a fourth plays every
// packet without a gap, and the stream goes on while the flood lasts.
TEST(RtspStream, StallingAndFloodingViewersDoNotDelayAnother)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient stalled(s.pumper());
    stalled.setReceiveBuffer(4096);
    ASSERT_TRUE(stalled.connectTo(s.port));
    ASSERT_FALSE(rtsptest::playOverTcp(s, stalled).empty());
    RtspScriptedClient player(s.pumper());
    ASSERT_TRUE(player.connectTo(s.port));
    ASSERT_FALSE(rtsptest::playOverTcp(s, player).empty());
    RtspScriptedClient asker(s.pumper());
    asker.setReceiveBuffer(4096);
    ASSERT_TRUE(asker.connectTo(s.port));

    const int flooder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(s.port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(flooder, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    std::atomic<bool> stop{false};
    std::atomic<bool> floodRanOut{false};
    std::thread flood([&] {
        // Receiver reports as a viewer sends them, as fast as the socket takes them, for at most 10 s.
        std::string burst;
        while (burst.size() < 65536)
            burst += std::string("$\x01\x00\x20", 4) + std::string(32, '\x81');
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stop && ::send(flooder, burst.data(), burst.size(), MSG_NOSIGNAL) > 0) {
            if (std::chrono::steady_clock::now() > until) {
                floodRanOut = true;
                break;
            }
        }
    });
    std::string questions;
    for (int i = 1; i <= 400; ++i)
        questions += RtspScriptedClient::request("OPTIONS", s.url(), i);
    // Sends (on its own thread, never driving the server) until the server stops reading it.
    std::thread ask([&] {
        size_t off = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (off < questions.size() && std::chrono::steady_clock::now() < until) {
            const ssize_t n = ::send(asker.fd(), questions.data() + off, questions.size() - off, MSG_NOSIGNAL);
            if (n > 0) {
                off += size_t(n);
            } else {
                pollfd pfd{asker.fd(), POLLOUT, 0};
                ::poll(&pfd, 1, 10);
            }
        }
    });

    std::vector<int> seqs;
    for (int i = 0; i < 60; ++i) {
        s.sendFrame(i % 20 == 0 ? rtsptest::keyFrame(40000) : rtsptest::nalUnit(1, 40000));
        while (auto f = player.readInterleaved(0)) {
            if (f->channel == 0)
                seqs.push_back(RtpPacket::parse(f->data)->seq);
        }
    }
    for (const auto& f : drain(player)) {
        if (f.channel == 0)
            seqs.push_back(RtpPacket::parse(f.data)->seq);
    }
    EXPECT_FALSE(floodRanOut);  // the whole stream went out while the flood went on
    stop = true;
    ::shutdown(flooder, SHUT_RDWR);
    flood.join();
    ::close(flooder);

    // 3 key frames of 2 + 28 packets, 57 frames of 28 packets.
    ASSERT_EQ(seqs.size(), size_t(3 * 30 + 57 * 28));
    for (size_t i = 1; i < seqs.size(); ++i)
        ASSERT_EQ(seqs[i], uint16_t(seqs[i - 1] + 1)) << i;
    EXPECT_TRUE(log.contains("client 127.0.0.1 will lost video packet", RTSP_LOG_WARN));

    // The one who asked without reading is still served, in order, once it reads.
    for (int i = 1; i <= 400; ++i) {
        const auto r = asker.readReply();
        ASSERT_TRUE(r) << i;
        ASSERT_EQ(r->header("CSeq"), std::to_string(i));
    }
    ask.join();
}

// Local ports of the UDP sockets this process holds.
std::set<uint16_t> ownUdpPorts()
{
    std::set<uint16_t> ports;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return ports;
    while (const dirent* e = ::readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] == '.' || fd == ::dirfd(dir))
            continue;
        int type = 0;
        socklen_t tlen = sizeof(type);
        sockaddr_in a{};
        socklen_t alen = sizeof(a);
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &tlen) == 0 && type == SOCK_DGRAM &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &alen) == 0 && a.sin_family == AF_INET)
            ports.insert(ntohs(a.sin_port));
    }
    ::closedir(dir);
    return ports;
}

// Fifty viewers vanish while the stream runs (reset or closed, over UDP and
// TCP): no signal ends the process, every connection goes, every UDP port is
// free again.
TEST(RtspStream, FiftyViewersDropMidStream)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    struct Viewer {
        std::unique_ptr<RtspScriptedClient> rtsp;
        std::unique_ptr<testsupport::RtpUdpReceiver> udp;
        int serverPort = 0;
    };
    std::vector<Viewer> viewers(50);
    for (size_t i = 0; i < viewers.size(); ++i) {
        Viewer& v = viewers[i];
        v.rtsp = std::make_unique<RtspScriptedClient>(s.pumper());
        ASSERT_TRUE(v.rtsp->connectTo(s.port));
        v.rtsp->setReceiveBuffer(4096);
        if (i % 2 == 0) {
            v.udp = std::make_unique<testsupport::RtpUdpReceiver>(s.pumper());
            ASSERT_TRUE(v.udp->ok());
            v.serverPort = rtsptest::serverPort(rtsptest::playOverUdp(s, *v.rtsp, *v.udp));
            ASSERT_NE(v.serverPort, 0);
        } else {
            ASSERT_FALSE(rtsptest::playOverTcp(s, *v.rtsp).empty());
        }
    }
    for (int i = 0; i < 10; ++i)
        s.sendFrame(rtsptest::nalUnit(1, 20000));
    for (size_t i = 0; i < viewers.size(); ++i) {
        if (i % 4 < 2)
            viewers[i].rtsp->resetConnection();
        else
            viewers[i].rtsp->closeConnection();
        viewers[i].udp.reset();  // gone without a word: datagrams now bounce
        s.sendFrame(rtsptest::nalUnit(1, 20000));
    }
    for (int i = 0; i < 20; ++i)
        s.sendFrame(rtsptest::nalUnit(1, 20000));

    EXPECT_EQ(log.matching("delete client", RTSP_LOG_INFO).size(), viewers.size());
    // Other test programs draw their ports from the same range at the same
    // time, so the check is that no socket of this process still holds one.
    const std::set<uint16_t> held = ownUdpPorts();
    for (const Viewer& v : viewers) {
        for (int port = v.serverPort; v.serverPort && port <= v.serverPort + 1; ++port)
            EXPECT_EQ(held.count(uint16_t(port)), 0u) << "port " << port;
    }
    // And the server still serves.
    RtspScriptedClient late(s.pumper());
    ASSERT_TRUE(late.connectTo(s.port));
    EXPECT_EQ(exchange(late, "OPTIONS", s.url(), 1).status, 200);
}

int udpSocket(const char* address, uint16_t* port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, address, &a.sin_addr);
    socklen_t len = sizeof(a);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0)
        return -1;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

void sendFrom(int fd, uint16_t to)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(to);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::sendto(fd, "\x80\xc9\x00\x01", 4, 0, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 4);
}

bool receives(int fd, RtspServer& s)
{
    for (int i = 0; i < 200; ++i) {
        char buf[2048];
        if (::recv(fd, buf, sizeof(buf), 0) > 0)
            return true;
        s.pump();
        ::usleep(1000);
    }
    return false;
}

// The viewer's stream follows a new source port of the viewer's own address
// (a NAT rebinding), never a datagram from another address.
TEST(RtspStream, UdpPortFollowsOnlyTheViewersOwnAddress)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));
    testsupport::RtpUdpReceiver rx(s.pumper());
    ASSERT_TRUE(rx.ok());
    const uint16_t serverPort = rtsptest::serverPort(rtsptest::playOverUdp(s, c, rx));
    ASSERT_NE(serverPort, 0);

    uint16_t strangerPort = 0;
    const int stranger = udpSocket("127.0.0.2", &strangerPort);
    ASSERT_GE(stranger, 0);
    sendFrom(stranger, serverPort);
    sendFrom(stranger, serverPort + 1);
    for (int i = 0; i < 3; ++i)
        s.pump();
    s.sendFrame(rtsptest::deltaFrame(100));
    EXPECT_TRUE(rx.read(0, 2000));
    EXPECT_FALSE(log.contains("port change"));

    uint16_t movedPort = 0;
    const int moved = udpSocket("127.0.0.1", &movedPort);
    ASSERT_GE(moved, 0);
    sendFrom(moved, serverPort);
    for (int i = 0; i < 3; ++i)
        s.pump();
    EXPECT_TRUE(log.contains("rtp over udp peer 127.0.0.1 port change " + std::to_string(rx.rtpPort()) + " to " +
                             std::to_string(movedPort)));
    s.sendFrame(rtsptest::deltaFrame(100));
    EXPECT_TRUE(receives(moved, s));
    char buf[2048];
    EXPECT_LT(::recv(stranger, buf, sizeof(buf), 0), 0);
    ::close(stranger);
    ::close(moved);
}

}  // namespace
