// RTSP server beside a reference server on GStreamer's RTSP server library,
// in one run: one pre-encoded 1080p20 H.264 stream fed 20 frames a second to
// ours, then to the reference (appsrc ! rtph264pay, one shared media: the
// stream is packetised once and sent to every viewer, as ours does).
//
//  - CPU per viewer: process CPU per second with 1, 4 and 16 ffmpeg viewers
//    (copying the stream, not decoding it), over UDP and TCP, less the same
//    server's CPU while fed with no viewer.
//  - Time to the first decoded frame: one ffmpeg run (same command for both)
//    through a small relay that notes when its DESCRIBE passes, to the first
//    frame ffmpeg writes out; median and maximum of 20 runs. A GOP lasts 1.5 s.
//  - The steps of that time for a scripted viewer (answers to DESCRIBE, SETUP
//    and PLAY, then the first RTP packet and the first IDR slice after PLAY),
//    and whether the SDP carried the parameter sets.
//
// Run from a Release build: build-release/bench/rtsp_bench [seconds per phase [first-frame runs]]
// (0 seconds skips the CPU figures); `rtsp_bench --serve PORT [seconds]` runs ours alone,
// fed the same stream, for probing it with ffmpeg by hand.
#include "rtsp/rtsp_demo.h"
#include "rtsp/rtsp_log.h"
#include "support/h264testsource.h"
#include "support/rtspscriptedclient.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Feeds `push` one frame of the stream every 50 ms on its own thread.
class Feeder {
public:
    explicit Feeder(std::function<void(const std::string&)> push) : m_push(std::move(push))
    {
        m_thread = std::thread([this] {
            const auto& frames = testsupport::h264TestStream(3).frames;
            auto next = Clock::now();
            for (size_t i = 0; !m_stop; ++i) {
                m_push(frames[i % frames.size()]);
                next += std::chrono::milliseconds(50);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~Feeder()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::function<void(const std::string&)> m_push;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// One ffmpeg process; output to /dev/null or to a pipe.
struct Ffmpeg {
    pid_t pid = -1;
    int out = -1;

    static Ffmpeg start(const std::vector<std::string>& args, bool pipeOut)
    {
        Ffmpeg f;
        int fds[2] = {-1, -1};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (pipeOut && pipe(fds) == 0) {
            posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
            posix_spawn_file_actions_addclose(&fa, fds[0]);
        } else {
            posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        }
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawnp(&f.pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            f.pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        if (fds[1] >= 0)
            close(fds[1]);
        f.out = fds[0];
        return f;
    }
    void stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            const auto until = Clock::now() + std::chrono::seconds(3);
            while (waitpid(pid, &status, WNOHANG) == 0) {
                if (Clock::now() > until) {
                    kill(pid, SIGKILL);
                    waitpid(pid, &status, 0);
                    break;
                }
                usleep(10000);
            }
        }
        pid = -1;
        if (out >= 0)
            close(out);
        out = -1;
    }
};

struct CpuFigures {
    double idle = 0;  // CPU seconds per second with no viewer
    std::vector<double> perViewer;  // per transport × count, CPU seconds per second per viewer
};

const char* kTransports[] = {"udp", "tcp"};
const int kCounts[] = {1, 4, 16};

double measure(double seconds)
{
    const double c0 = cpuSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return (cpuSeconds() - c0) / std::chrono::duration<double>(Clock::now() - t0).count();
}

CpuFigures cpuPerViewer(const std::string& url, double seconds)
{
    CpuFigures f;
    if (seconds <= 0) {
        f.perViewer.assign(6, 0.0);
        return f;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    f.idle = measure(seconds);
    for (const char* transport : kTransports) {
        for (int count : kCounts) {
            std::vector<Ffmpeg> viewers;
            for (int i = 0; i < count; ++i)
                viewers.push_back(Ffmpeg::start({"ffmpeg", "-nostdin", "-rtsp_transport", transport, "-i", url, "-map",
                                                 "0:v", "-c", "copy", "-f", "null", "-"},
                                                false));
            std::this_thread::sleep_for(std::chrono::seconds(3));  // connected and past the first key frame
            const double busy = measure(seconds);
            std::fprintf(stderr, "  %s x%d: %.2f ms/s\n", transport, count, (busy - f.idle) * 1000 / count);
            for (auto& v : viewers)
                v.stop();
            f.perViewer.push_back((busy - f.idle) / count);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    return f;
}

// A one-connection TCP relay in front of a server that notes when the
// viewer's DESCRIBE passes, so both servers are timed from the same point.
class DescribeRelay {
public:
    explicit DescribeRelay(uint16_t serverPort) : m_serverPort(serverPort)
    {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        listen(m_listen, 4);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~DescribeRelay()
    {
        m_stop = true;
        m_thread.join();
        close(m_listen);
    }
    // When the DESCRIBE went through, if it did.
    bool describedAt(Clock::time_point* at) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *at = m_describe;
        return m_described;
    }

    uint16_t port = 0;

private:
    void run()
    {
        int client = -1;
        int server = -1;
        std::string seen;
        while (!m_stop) {
            if (client < 0) {
                pollfd p{m_listen, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0)
                    continue;
                client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                a.sin_port = htons(m_serverPort);
                connect(server, reinterpret_cast<sockaddr*>(&a), sizeof(a));
                continue;
            }
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(p, 2, 20) <= 0)
                continue;
            char buf[65536];
            bool closed = false;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = recv(p[i].fd, buf, sizeof(buf), 0);
                if (n <= 0 || send(p[1 - i].fd, buf, size_t(n), MSG_NOSIGNAL) != n) {
                    closed = true;
                    break;
                }
                if (i == 0 && seen.size() < 4096) {
                    seen.append(buf, size_t(n));
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (!m_described && seen.find("DESCRIBE ") != std::string::npos) {
                        m_described = true;
                        m_describe = Clock::now();
                    }
                }
            }
            if (closed) {
                close(client);
                close(server);
                client = server = -1;
            }
        }
        if (client >= 0) {
            close(client);
            close(server);
        }
    }

    uint16_t m_serverPort;
    int m_listen = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    bool m_described = false;
    Clock::time_point m_describe;
};

// Milliseconds from the DESCRIBE to the first frame ffmpeg decodes, `runs` times.
std::vector<double> firstFrameTimes(uint16_t serverPort, int runs)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        DescribeRelay relay(serverPort);
        const std::string url = "rtsp://127.0.0.1:" + std::to_string(relay.port) + "/live/main_stream";
        const auto t0 = Clock::now();
        // Decodes from the first key frame on, on one thread, instead of probing the stream for seconds.
        Ffmpeg f = Ffmpeg::start({"ffmpeg", "-nostdin", "-rtsp_transport", "tcp", "-analyzeduration", "0",
                                  "-probesize", "32", "-threads", "1", "-i", url, "-map", "0:v", "-frames:v", "1", "-flush_packets",
                                  "1", "-f", "framemd5", "-"},
                                 true);
        std::string text;
        double took = -1;
        while (took < 0 && Clock::now() - t0 < std::chrono::seconds(15)) {
            pollfd p{f.out, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = read(f.out, buf, sizeof(buf));
            if (n <= 0)
                break;
            text.append(buf, size_t(n));
            for (size_t at = 0, eol; (eol = text.find('\n', at)) != std::string::npos; at = eol + 1) {
                Clock::time_point describe;
                if (text[at] != '#' && relay.describedAt(&describe)) {
                    took = std::chrono::duration<double, std::milli>(Clock::now() - describe).count();
                    break;
                }
            }
        }
        f.stop();
        std::fprintf(stderr, "  first frame %.0f ms after DESCRIBE\n", took);
        if (took >= 0)
            ms.push_back(took);
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + 37 * (i % 7)));
    }
    return ms;
}

// Where the time to the first picture goes: one scripted viewer over TCP
// times each step (ms): DESCRIBE -> answer, SETUP -> answer, PLAY -> answer,
// PLAY -> first RTP packet, PLAY -> first packet of an IDR slice; and notes
// whether the SDP carried the parameter sets. Medians over `runs`.
struct Phases {
    std::vector<double> describe, setup, play, firstPacket, firstIdr, idrDone;
    int withSprop = 0;
    int startedOnIdr = 0;  // runs whose first video packet was SPS/PPS/IDR
};

int nalType(const std::string& payload)
{
    if (payload.empty())
        return -1;
    const int t = payload[0] & 0x1f;
    if (t == 28 && payload.size() > 1)  // FU-A: the unit's own type, on its first fragment only
        return (payload[1] & 0x80) ? (payload[1] & 0x1f) : -28;
    if (t == 24 && payload.size() > 3)  // STAP-A: the first unit
        return payload[3] & 0x1f;
    return t;
}

Phases phaseTimes(uint16_t port, int runs)
{
    Phases ph;
    auto ms = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
    for (int i = 0; i < runs; ++i) {
        testsupport::RtspScriptedClient c([] {});
        if (!c.connectTo(port))
            continue;
        const std::string base = "rtsp://127.0.0.1:" + std::to_string(port) + "/live/main_stream";
        auto t0 = Clock::now();
        c.send(testsupport::RtspScriptedClient::request("DESCRIBE", base, 1, {"Accept: application/sdp"}));
        auto d = c.readReply(5000);
        if (!d || d->status != 200)
            continue;
        ph.describe.push_back(ms(t0, Clock::now()));
        if (d->body.find("sprop-parameter-sets=") != std::string::npos)
            ++ph.withSprop;
        // The track's control URL: the last a=control line (the media's).
        std::string track;
        for (size_t at = 0; (at = d->body.find("a=control:", at)) != std::string::npos; at += 10)
            track = d->body.substr(at + 10, d->body.find('\r', at) - at - 10);
        if (track.find("rtsp://") != 0)
            track = base + "/" + track;
        t0 = Clock::now();
        c.send(testsupport::RtspScriptedClient::request("SETUP", track, 2,
                                                        {"Transport: RTP/AVP/TCP;unicast;interleaved=0-1"}));
        auto s = c.readReply(5000);
        if (!s || s->status != 200)
            continue;
        ph.setup.push_back(ms(t0, Clock::now()));
        std::string session = s->header("Session");
        session = session.substr(0, session.find(';'));
        t0 = Clock::now();
        c.send(testsupport::RtspScriptedClient::request("PLAY", base + "/", 3, {"Session: " + session, "Range: npt=0.000-"}));
        auto p = c.readReply(5000);
        if (!p || p->status != 200)
            continue;
        ph.play.push_back(ms(t0, Clock::now()));
        bool first = true;
        bool sawIdr = false;
        while (Clock::now() - t0 < std::chrono::seconds(5)) {
            auto f = c.readInterleaved(5000);
            if (!f)
                break;
            if (f->channel != 0)
                continue;
            auto rtp = testsupport::RtpPacket::parse(f->data);
            if (!rtp)
                continue;
            const int t = nalType(rtp->payload);
            if (first) {
                ph.firstPacket.push_back(ms(t0, Clock::now()));
                if (t == 5 || t == 7 || t == 8)
                    ++ph.startedOnIdr;
                first = false;
            }
            if (t == 5 && !sawIdr) {
                ph.firstIdr.push_back(ms(t0, Clock::now()));
                sawIdr = true;
            }
            // The IDR slice's last packet: a whole unit, or its FU-A end fragment.
            const bool idrEnd = rtp->payload.size() > 1 &&
                                ((rtp->payload[0] & 0x1f) == 5 || ((rtp->payload[0] & 0x1f) == 28 && (rtp->payload[1] & 0x5f) == 0x45));
            if (sawIdr && idrEnd) {
                ph.idrDone.push_back(ms(t0, Clock::now()));
                break;
            }
        }
        c.resetConnection();
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + 37 * (i % 7)));
    }
    return ph;
}

struct Result {
    CpuFigures cpu;
    std::vector<double> firstFrame;
    Phases phases;
};

Result runOurs(double seconds, int runs)
{
    rtsp_set_log_handler([](int level, const char* line) {
        if (level <= RTSP_LOG_WARN)
            fputs(line, stderr);
    });
    rtsp_demo_handle demo = nullptr;
    uint16_t port = 0;
    for (int i = 0; i < 20 && !demo; ++i) {
        port = testsupport::freeTcpPort();
        demo = create_rtsp_demo(port);
    }
    rtsp_session_handle session = rtsp_new_session(demo, "/live/main_stream");
    rtsp_set_video(session, RTSP_CODEC_ID_VIDEO_H264, nullptr, 0);
    rtsp_sync_video_ts(session, rtsp_get_reltime(), rtsp_get_ntptime());
    Result r;
    {
        Feeder feeder([&](const std::string& f) {
            rtsp_tx_video(session, reinterpret_cast<const uint8_t*>(f.data()), int(f.size()), rtsp_get_reltime());
            rtsp_do_event(demo);
        });
        const std::string url = "rtsp://127.0.0.1:" + std::to_string(port) + "/live/main_stream";
        r.cpu = cpuPerViewer(url, seconds);
        r.phases = phaseTimes(port, runs);
        r.firstFrame = firstFrameTimes(port, runs);
    }
    rtsp_del_demo(demo);
    return r;
}

// The reference: the appsrc of the shared media, set while a media exists.
std::mutex g_srcMutex;
GstElement* g_appsrc = nullptr;

void onUnprepared(GstRTSPMedia*, gpointer)
{
    std::lock_guard<std::mutex> lock(g_srcMutex);
    if (g_appsrc)
        gst_object_unref(g_appsrc);
    g_appsrc = nullptr;
}

void onMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer)
{
    GstElement* element = gst_rtsp_media_get_element(media);
    GstElement* src = gst_bin_get_by_name_recurse_up(GST_BIN(element), "src");
    gst_object_unref(element);
    g_signal_connect(media, "unprepared", G_CALLBACK(onUnprepared), nullptr);
    std::lock_guard<std::mutex> lock(g_srcMutex);
    if (g_appsrc)
        gst_object_unref(g_appsrc);
    g_appsrc = src;
}

Result runReference(double seconds, int runs)
{
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, "127.0.0.1");
    gst_rtsp_server_set_service(server, "0");
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory,
                                      "( appsrc name=src is-live=true format=time do-timestamp=true "
                                      "caps=video/x-h264,stream-format=byte-stream,alignment=au "
                                      "! rtph264pay name=pay0 pt=96 )");
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    g_signal_connect(factory, "media-configure", G_CALLBACK(onMediaConfigure), nullptr);
    gst_rtsp_mount_points_add_factory(mounts, "/live/main_stream", factory);
    g_object_unref(mounts);
    const guint id = gst_rtsp_server_attach(server, context);
    const int port = gst_rtsp_server_get_bound_port(server);
    std::thread loopThread([loop] { g_main_loop_run(loop); });

    Result r;
    {
        Feeder feeder([](const std::string& f) {
            std::lock_guard<std::mutex> lock(g_srcMutex);
            if (!g_appsrc)
                return;
            GstBuffer* b = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<char*>(f.data()),
                                                       f.size(), 0, f.size(), nullptr, nullptr);
            gst_app_src_push_buffer(GST_APP_SRC(g_appsrc), b);
        });
        const std::string url = "rtsp://127.0.0.1:" + std::to_string(port) + "/live/main_stream";
        r.cpu = cpuPerViewer(url, seconds);
        r.phases = phaseTimes(uint16_t(port), runs);
        r.firstFrame = firstFrameTimes(uint16_t(port), runs);
    }
    g_main_loop_quit(loop);
    loopThread.join();
    if (GSource* source = g_main_context_find_source_by_id(context, id))
        g_source_destroy(source);
    g_object_unref(server);
    g_main_loop_unref(loop);
    g_main_context_unref(context);
    return r;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double maximum(const std::vector<double>& v)
{
    return v.empty() ? -1 : *std::max_element(v.begin(), v.end());
}

}  // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    signal(SIGPIPE, SIG_IGN);  // for the reference library; ours never raises it
    if (argc > 2 && std::string(argv[1]) == "--serve") {  // ours alone on a port, for probing it by hand
        rtsp_demo_handle demo = create_rtsp_demo(uint16_t(std::atoi(argv[2])));
        rtsp_session_handle session = rtsp_new_session(demo, "/live/main_stream");
        rtsp_set_video(session, RTSP_CODEC_ID_VIDEO_H264, nullptr, 0);
        rtsp_sync_video_ts(session, rtsp_get_reltime(), rtsp_get_ntptime());
        Feeder feeder([&](const std::string& f) {
            rtsp_tx_video(session, reinterpret_cast<const uint8_t*>(f.data()), int(f.size()), rtsp_get_reltime());
            rtsp_do_event(demo);
        });
        std::this_thread::sleep_for(std::chrono::seconds(argc > 3 ? std::atoi(argv[3]) : 60));
        return 0;
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
    std::printf("encoding the test stream (1920x1080, 20 fps, Main, GOP 30)...\n");
    const auto& stream = testsupport::h264TestStream(3);
    size_t bytes = 0;
    for (const auto& f : stream.frames)
        bytes += f.size();
    std::printf("%zu frames, %.0f kbit/s\n\n", stream.frames.size(), bytes * 8.0 / (stream.frames.size() / 20.0) / 1000);

    std::fprintf(stderr, "ours\n");
    const Result ours = runOurs(seconds, runs);
    std::fprintf(stderr, "reference\n");
    const Result ref = runReference(seconds, runs);

    std::printf("CPU while fed with no viewer (ms CPU per s): ours %.2f, reference %.2f\n", ours.cpu.idle * 1000,
                ref.cpu.idle * 1000);
    std::printf("\nCPU per viewer (ms CPU per s, less the idle figure)\n");
    std::printf("%-10s %8s %10s %10s %8s\n", "transport", "viewers", "ours", "reference", "ratio");
    size_t k = 0;
    for (const char* transport : kTransports) {
        for (int count : kCounts) {
            const double o = ours.cpu.perViewer[k] * 1000;
            const double g = ref.cpu.perViewer[k] * 1000;
            std::printf("%-10s %8d %10.2f %10.2f %8.2f\n", transport, count, o, g, g > 0 ? o / g : 0.0);
            ++k;
        }
    }
    std::printf("\nDESCRIBE to first decoded frame over TCP, %d runs (ms):\n", runs);
    std::printf("%-10s %8s %10s %10s\n", "", "median", "max", "runs ok");
    std::printf("%-10s %8.0f %10.0f %10zu\n", "ours", median(ours.firstFrame), maximum(ours.firstFrame),
                ours.firstFrame.size());
    std::printf("%-10s %8.0f %10.0f %10zu\n", "reference", median(ref.firstFrame), maximum(ref.firstFrame),
                ref.firstFrame.size());
    std::printf("median ratio ours/reference: %.2f\n", median(ours.firstFrame) / median(ref.firstFrame));
    std::printf("\nSteps of a scripted viewer over TCP, medians of %d runs (ms):\n", runs);
    std::printf("%-10s %9s %7s %7s %13s %11s %11s %7s %12s\n", "", "DESCRIBE", "SETUP", "PLAY", "PLAY->1st pkt",
                "PLAY->IDR", "IDR whole", "sprop", "starts IDR");
    for (const auto* r : {&ours, &ref})
        std::printf("%-10s %9.0f %7.0f %7.0f %13.0f %11.0f %11.0f %4d/%-2zu %9d/%-2zu\n", r == &ours ? "ours" : "reference",
                    median(r->phases.describe), median(r->phases.setup), median(r->phases.play),
                    median(r->phases.firstPacket), median(r->phases.firstIdr), median(r->phases.idrDone), r->phases.withSprop,
                    r->phases.describe.size(), r->phases.startedOnIdr, r->phases.firstPacket.size());
    return 0;
}
