#pragma once
// What the capture tests share: the frame-buffer mutex, a free port for the
// live-stream server, the stand-ins' failures and call trace cleared, the
// standard output or error of the process caught in a file, and a viewer
// that waits by sleeping (the encoder thread drives the server).
#include "capture/aiqcontrol.h"
#include "capture/capturesettings.h"
#include "foundation/foundationglobals.h"
#include "platform/media/standincalls.h"
#include "support/rtspscriptedclient.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QTemporaryFile>
#include <QThread>

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

namespace capturetest {

// Redirects a descriptor of this process (1 standard output, 2 standard
// error) into a file while it lives.
class FdCapture {
public:
    explicit FdCapture(int fd) : m_fd(fd)
    {
        std::fflush(nullptr);
        m_file.open();
        m_saved = ::dup(fd);
        ::dup2(m_file.handle(), fd);
    }
    ~FdCapture() { restore(); }
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(nullptr);
        ::dup2(m_saved, m_fd);
        ::close(m_saved);
        m_saved = -1;
    }
    QByteArray text()
    {
        std::fflush(nullptr);
        QFile f(m_file.fileName());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private:
    int m_fd;
    int m_saved = -1;
    QTemporaryFile m_file;
};

// Clean stand-ins, a frame-buffer mutex and a free port for the server.
class CaptureRig {
public:
    CaptureRig()
    {
        if (!pMutex)
            pMutex = new QMutex;
        platform::StandInCalls::clearFailures();
        platform::StandInCalls::clearTrace();
        port = testsupport::freeTcpPort();
        qputenv("ORVALE_RTSP_PORT", QByteArray::number(port));
    }
    ~CaptureRig()
    {
        platform::StandInCalls::clearFailures();
        capture::setNumFailDetect4Source({});
    }

    std::string url() const { return "rtsp://127.0.0.1:" + std::to_string(port) + "/live/main_stream"; }

    uint16_t port = 0;
};

// Sleeps a little: the server under test runs on the encoder's thread.
inline void nap()
{
    QThread::msleep(5);
}

inline bool waitUntil(const std::function<bool()>& cond, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (cond())
            return true;
        QThread::msleep(10);
    }
    return cond();
}

// ffprobe's view of the first video stream at url, "codec|profile|width|
// height|pix_fmt|rate"; empty when it found none.
inline QString probe(const std::string& url, const QString& transport)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-rtsp_transport", transport, "-select_streams", "v:0", "-show_entries",
                        "stream=codec_name,profile,width,height,pix_fmt,r_frame_rate", "-of",
                        "default=noprint_wrappers=1:nokey=1", QString::fromStdString(url)});
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(2000);
        return {};
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed().split('\n').join('|');
}

}  // namespace capturetest
