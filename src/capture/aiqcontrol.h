#pragma once
// The capture controller. Created once by the hub, it brings up the board's
// image pipeline: the ISP tuning engine, the RTSP live-stream server on
// "/live/main_stream", and one video-input channel bound to one H.264
// encoder channel. Its capture thread copies every raw frame whole into the
// shared frame buffer (gImageThread, under pMutex) and counts it in
// gFPS_Times; the encoder's output callback hands every encoded frame to
// the RTSP session and runs one pass of the RTSP server. It also offers the
// ISP setters that the camera facade calls when camera parameters are
// applied. Start-up and failures are reported on standard output; failures
// also go to the program's log.
//
// Threads: constructed on the main thread; the setters run on whichever
// thread applies camera parameters; the capture thread and the encoder's
// output thread run the pipeline. Once capture runs, SIGINT stops capture
// and streaming for good and the process runs on.
#include "platform/media/rkaiq.h"
#include "platform/media/rkmedia.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <pthread.h>

class AiqControl {
public:
    // The whole start-up for frames of frameWidth x frameHeight (NV12).
    // Success shows only in aiq_control_get_status().
    explicit AiqControl(int frameWidth = 1920, int frameHeight = 1080);

    // Test only: the frame buffer and the ISP tuning engine, started as in
    // the full start-up, and nothing else (no RTSP server, no media
    // channels, no capture thread, no SIGINT handler); the controller counts
    // as running when `running` is true.
    struct WithoutPipeline {};
    AiqControl(WithoutPipeline, bool running, int frameWidth = 1920, int frameHeight = 1080);

    // Destroyed only at a clean stop of the program and by tests: stops the
    // media channels and the capture thread, deletes the RTSP server and
    // gives SIGINT its previous handler back.
    ~AiqControl();
    AiqControl(const AiqControl&) = delete;
    AiqControl& operator=(const AiqControl&) = delete;

    // Starts the ISP tuning engine: 0, or -1 when it could not be prepared
    // or started (the context stays null when preparing failed).
    int RKAIQ_ISP_Init();

    // True once the whole start-up succeeded and the ISP has a context;
    // every setter acts only then.
    bool aiq_control_get_status() const;

    // Manual exposure: gain factor and exposure time in seconds.
    int aiq_control_setManualExp(float gain, float time);
    int aiq_control_setSharpness(unsigned int level);
    int aiq_control_setContrast(unsigned int level);
    // Reads the gamma attributes, replaces the seventh word with value and
    // writes them back.
    int aiq_control_setGamma(int value);
    // mirror: left-right mirror switch; flip: up-down flip switch (no frames
    // are skipped).
    int aiq_control_setMirror(bool mirror, bool flip);
    // Reads the gamma attributes into a scratch record; nothing else.
    int aiq_control_setInitGamma();

    // The ISP context (null when the tuning engine failed to prepare); tests
    // read what reached the ISP through platform::ispRecord.
    rk_aiq_sys_ctx_t* context() const { return m_ctx; }

    // The gamma record's word that aiq_control_setGamma replaces.
    static constexpr int kGammaValueWord = 6;

private:
    void startPipeline();
    bool startCaptureThread();

    int m_width = 0;
    int m_height = 0;
    std::atomic<bool> m_running{false};
    rk_aiq_sys_ctx_t* m_ctx = nullptr;
    bool m_pipeline = false;  // the full start-up ran (teardown has work to do)
    bool m_captureStarted = false;
    pthread_t m_captureThread{};
    bool m_sigintInstalled = false;
    struct sigaction m_previousSigint {};
};

// The process-wide capture controller; null until the hub has created it
// (never owned through this pointer).
extern AiqControl* gAiqControl;

// Frames copied into the shared frame buffer since the process started;
// never reset (wraps after 2^31).
extern std::atomic<int32_t> gFPS_Times;

// Captured frames a second over the last measuring period, computed from
// gFPS_Times (FrameRateMeter until the liveness reporter is wired, then the
// reporter); 0 from the start until the first period has been measured. The
// hub copies a frame only while it is at least 1; the run state and the
// liveness record read it.
extern std::atomic<int32_t> gFPS;

// Set by SIGINT once capture runs; never cleared. The capture thread and the
// encoder's output callback stop at it.
extern std::atomic<bool> quit;

// The capture thread's body (the argument is the controller, not read).
void* GetMediaBuffer(void* arg);
// The encoder's output callback: one encoded frame.
void video_packet_cb(MEDIA_BUFFER mb);
// The SIGINT handler: "signal <n>" on standard error, then quit.
void sigterm_handler(int signo);
