#pragma once
// A scripted RTSP viewer for the tests: sends exactly the bytes a test gives
// (whole, byte by byte, or several requests at once), reads answers and
// interleaved frames byte-exactly, parses RTP and RTCP sender reports, stops
// reading (a stalled viewer) or resets its connection. Everything waits by
// calling `pump` (usually one pass of the server under test), so a test can
// drive server and client on one thread.
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct RtspReply {
    std::string raw;            // the whole answer, body included
    std::string statusLine;     // without CR LF
    int status = 0;
    std::vector<std::string> headerLines;  // in order, without CR LF
    std::string body;
    // The value of the first header `name` ("" when absent).
    std::string header(const std::string& name) const;
};

struct RtpPacket {
    bool marker = false;
    int payloadType = 0;
    uint16_t seq = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::string payload;
    int size = 0;  // header + payload
    static std::optional<RtpPacket> parse(const std::string& bytes);
};

struct RtcpSenderReport {
    uint32_t ssrc = 0;
    uint32_t ntpSeconds = 0;
    uint32_t ntpFraction = 0;
    uint32_t rtpTimestamp = 0;
    uint32_t packetCount = 0;
    uint32_t octetCount = 0;
    static std::optional<RtcpSenderReport> parse(const std::string& bytes);  // exactly 28 bytes, PT 200, length 6
};

struct InterleavedFrame {
    int channel = 0;
    std::string data;
};

class RtspScriptedClient {
public:
    explicit RtspScriptedClient(std::function<void()> pump) : m_pump(std::move(pump)) {}
    ~RtspScriptedClient();
    RtspScriptedClient(const RtspScriptedClient&) = delete;
    RtspScriptedClient& operator=(const RtspScriptedClient&) = delete;

    bool connectTo(uint16_t port, const char* address = "127.0.0.1");
    // Sends every byte (pumping while the socket is full); false if the peer is gone.
    bool send(const std::string& bytes);
    // Sends one byte at a time, pumping the server after each.
    bool sendBytewise(const std::string& bytes);
    // A request with the given extra header lines; CSeq is added when cseq >= 0.
    static std::string request(const std::string& method, const std::string& url, int cseq,
                               const std::vector<std::string>& headers = {});

    // The next answer (skipping interleaved frames, which are kept).
    std::optional<RtspReply> readReply(int timeoutMs = 2000);
    // The next interleaved frame (answers in between are kept).
    std::optional<InterleavedFrame> readInterleaved(int timeoutMs = 2000);
    // True when the server closed or reset the connection within the time.
    bool waitClosed(int timeoutMs = 2000);
    // Bytes received but not yet taken.
    const std::string& pending() const { return m_in; }

    // Closes with a reset (RST) instead of a clean close.
    void resetConnection();
    void closeConnection();
    // A receive buffer this small makes a stalled viewer stall quickly.
    void setReceiveBuffer(int bytes);
    int fd() const { return m_fd; }
    uint16_t localPort() const;

private:
    bool fill(int timeoutMs);
    std::optional<RtspReply> takeReply();
    std::optional<InterleavedFrame> takeInterleaved();

    std::function<void()> m_pump;
    int m_fd = -1;
    bool m_closed = false;
    std::string m_in;
    std::vector<InterleavedFrame> m_frames;
    std::vector<RtspReply> m_replies;
};

// A viewer's RTP and RTCP UDP sockets on a free even/odd port pair of 127.0.0.1.
class RtpUdpReceiver {
public:
    explicit RtpUdpReceiver(std::function<void()> pump);
    ~RtpUdpReceiver();
    RtpUdpReceiver(const RtpUdpReceiver&) = delete;
    RtpUdpReceiver& operator=(const RtpUdpReceiver&) = delete;

    bool ok() const { return m_fd[0] >= 0; }
    uint16_t rtpPort() const { return m_port; }
    // The next datagram on the RTP (0) or RTCP (1) socket, with its sender port.
    std::optional<std::string> read(int which, int timeoutMs = 2000, uint16_t* fromPort = nullptr);
    // Sends one datagram from the RTP (0) or RTCP (1) socket to 127.0.0.1:port.
    bool sendTo(int which, uint16_t port, const std::string& bytes);

private:
    std::function<void()> m_pump;
    int m_fd[2] = {-1, -1};
    uint16_t m_port = 0;
};

// A TCP port of 127.0.0.1 that was free a moment ago.
uint16_t freeTcpPort();

}  // namespace testsupport
