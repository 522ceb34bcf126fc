// Exact ports, checked in a private network namespace (needs root; skipped
// otherwise): the default RTSP port 554, and viewers' UDP port pairs taken
// as the lowest free even port from 49152.
#include "rtsp/rtsp_demo.h"
#include "rtspserverfixture.h"
#include "support/rtsplogcapture.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

using testsupport::RtpUdpReceiver;
using testsupport::RtspScriptedClient;

int bindUdp(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST(RtspPorts, DefaultPortAndLowestFreeEvenUdpPairs)
{
    IsolatedNetwork net;
    if (!net.ok())
        GTEST_SKIP() << "no private network namespace: " << net.error().toStdString();
    testsupport::RtspLogCapture log;

    rtsp_demo_handle demo = create_rtsp_demo(0);
    ASSERT_NE(demo, nullptr);
    EXPECT_TRUE(log.contains("rtsp server demo starting on port 554", RTSP_LOG_INFO));
    rtsp_session_handle session = create_rtsp_session(demo, "/live/main_stream");
    ASSERT_NE(session, nullptr);
    auto pump = [demo] { rtsp_do_event(demo); };

    // A port of the third pair is taken by someone else.
    const int squatter = bindUdp(49157);
    ASSERT_GE(squatter, 0);

    struct Viewer {
        std::unique_ptr<RtspScriptedClient> rtsp;
        std::unique_ptr<RtpUdpReceiver> udp;
    };
    auto setup = [&](Viewer& v) {
        v.rtsp = std::make_unique<RtspScriptedClient>(pump);
        v.udp = std::make_unique<RtpUdpReceiver>(pump, 40000);  // well away from the server's ports
        EXPECT_TRUE(v.rtsp->connectTo(554));
        const std::string cp = std::to_string(v.udp->rtpPort()) + "-" + std::to_string(v.udp->rtpPort() + 1);
        const auto r = rtsptest::exchange(*v.rtsp, "SETUP", "rtsp://127.0.0.1/live/main_stream/track1", 1,
                                          {"Transport: RTP/AVP;unicast;client_port=" + cp});
        const std::string t = r.header("Transport");
        return t.substr(t.find(";server_port=") + 1);
    };
    Viewer a, b, c, d;
    EXPECT_EQ(setup(a), "server_port=49152-49153");
    EXPECT_EQ(setup(b), "server_port=49154-49155");
    EXPECT_EQ(setup(c), "server_port=49158-49159");
    // The first viewer leaves: its pair is the lowest free one again.
    a.rtsp->closeConnection();
    for (int i = 0; i < 3; ++i)
        pump();
    EXPECT_EQ(setup(d), "server_port=49152-49153");

    ::close(squatter);
    rtsp_del_demo(demo);
    // Everything is released: the ports can be bound again.
    for (uint16_t port : {49152, 49153, 49154, 49155, 49158, 49159}) {
        const int fd = bindUdp(port);
        EXPECT_GE(fd, 0) << port;
        ::close(fd);
    }
}

}  // namespace
