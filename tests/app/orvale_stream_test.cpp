// The camera program's live stream, played by ffprobe and ffmpeg over UDP
// and TCP: the camera's frames, in order, at 20 a second; SIGINT stops the
// stream while the program runs on; the default port in a private network.
#include "orvalerun.h"
#include "support/scratchdir.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using apptest::OrvaleRun;

namespace {

constexpr int kWidth = 1920;

QString streamUrl(uint16_t port)
{
    return QStringLiteral("rtsp://127.0.0.1:%1/live/main_stream").arg(port);
}

// Runs a client program to its end; its standard output, or nothing when it
// failed.
std::optional<QByteArray> runClient(const QString& program, const QStringList& args, int timeoutMs = 30000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return std::nullopt;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput();
}

// ffprobe's view of the stream: "codec|profile|width|height|pix_fmt|rate".
QString probe(const QString& url, const QString& transport)
{
    const auto out = runClient("ffprobe", {"-v", "error", "-timeout", "3000000", "-rtsp_transport", transport,
                                           "-select_streams", "v:0", "-show_entries",
                                           "stream=codec_name,profile,width,height,pix_fmt,r_frame_rate", "-of",
                                           "default=noprint_wrappers=1:nokey=1", url});
    return out ? QString::fromUtf8(*out).trimmed().split('\n').join('|') : QString();
}

bool waitForStream(OrvaleRun& run, const QString& url)
{
    return run.waitFor([&] { return !probe(url, "tcp").isEmpty(); }, 90000);
}

uint32_t frameNumber(const char* row)
{
    const int bw = kWidth / 32;
    uint32_t n = 0;
    for (int bit = 0; bit < 32; ++bit)
        n = (n << 1) | (uint8_t(row[bit * bw + bw / 2]) > 128 ? 1u : 0u);
    return n;
}

const QString kExpected = "h264|Main|1920|1080|yuv420p|20/1";

TEST(OrvaleStream, PlaysTheCamerasFramesOverUdpAndTcp)
{
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    run.start();
    const QString url = streamUrl(run.rtspPort());
    ASSERT_TRUE(waitForStream(run, url)) << run.stderrText().toStdString();

    for (const QString transport : {"udp", "tcp"}) {
        SCOPED_TRACE(transport.toStdString());
        EXPECT_EQ(probe(url, transport), kExpected);

        // 60 decoded frames; the first luma row of each carries the camera's
        // frame number, which must advance (by one, unless a loaded machine
        // made the sensor or the network drop a frame).
        const auto rows = runClient("ffmpeg", {"-v", "error", "-rtsp_transport", transport, "-i", url, "-frames:v",
                                               "60", "-fps_mode", "passthrough", "-vf", "format=gray,crop=1920:1:0:0", "-f",
                                               "rawvideo", "-pix_fmt", "gray",
                                               "pipe:1"},
                                   90000);
        ASSERT_TRUE(rows.has_value());
        ASSERT_EQ(rows->size(), 60 * kWidth);
        for (int i = 1; i < 60; ++i) {
            const uint32_t previous = frameNumber(rows->constData() + (i - 1) * kWidth);
            const uint32_t current = frameNumber(rows->constData() + i * kWidth);
            EXPECT_GT(current, previous) << i;
            EXPECT_LE(current, previous + 20) << i;
        }
    }
}

TEST(OrvaleStream, SigintStopsTheStreamAndTheProgramRunsOn)
{
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    run.start();
    const QString url = streamUrl(run.rtspPort());
    ASSERT_TRUE(waitForStream(run, url));

    ASSERT_EQ(::kill(pid_t(run.process().processId()), SIGINT), 0);
    ASSERT_TRUE(run.waitFor([&] { return run.stderrText().contains("signal 2\n"); }, 5000));
    QThread::msleep(1000);
    ASSERT_EQ(run.process().state(), QProcess::Running) << "SIGINT stops capture, not the program";
    EXPECT_EQ(probe(url, "tcp"), QString()) << "the server is no longer served";

    // SIGTERM still ends it cleanly.
    run.process().terminate();
    ASSERT_TRUE(run.process().waitForFinished(30000));
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
}

TEST(OrvaleStream, PlaysOnTheDefaultPortInAPrivateNetwork)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a private network needs root";
    IsolatedNetwork net;
    if (!net.ok())
        GTEST_SKIP() << net.error().toStdString();
    // The program waits for an address on a card other than loopback: a
    // virtual pair inside the private network gives it one.
    for (const QStringList& args : {QStringList{"link", "add", "orv0", "type", "veth", "peer", "name", "orv1"},
                                    QStringList{"addr", "add", "10.254.0.1/24", "dev", "orv0"},
                                    QStringList{"link", "set", "orv1", "up"}, QStringList{"link", "set", "orv0", "up"}}) {
        if (QProcess::execute("ip", args) != 0)
            GTEST_SKIP() << "cannot make a virtual card: ip " << args.join(' ').toStdString();
    }
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    run.setRtspPort(0);
    run.start();
    ASSERT_TRUE(waitForStream(run, streamUrl(554))) << run.stderrText().toStdString();
    EXPECT_EQ(probe(streamUrl(554), "udp"), kExpected);
}

}  // namespace
