#include "capture/aiqcontrol.h"

#include "capture/capturesettings.h"
#include "foundation/foundationglobals.h"
#include "platform/media/capturebuffer.h"
#include "rtsp/rtsp_demo.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

AiqControl* gAiqControl = nullptr;
std::atomic<int32_t> gFPS_Times{0};
std::atomic<int32_t> gFPS{0};
std::atomic<bool> quit{false};

// The RTSP server and its one session; set up by the controller before the
// encoder runs, then used only on the encoder's output thread.
rtsp_demo_handle g_rtsplive = nullptr;
rtsp_session_handle g_rtsp_session = nullptr;

static_assert(std::atomic<bool>::is_always_lock_free, "quit is set from a signal handler");

namespace {

// Set while the controller tears the pipeline down: the capture thread's
// null buffer is then the expected end, not a failure.
std::atomic<bool> g_tearingDown{false};

constexpr const char* kStreamPath = "/live/main_stream";
constexpr int kFramesPerSecond = 20;
constexpr int kGop = 30;
constexpr int kVideoBuffers = 3;

// One line on standard output, as the pipeline has always reported; a
// failure also reaches the program's log files.
void report(bool failure, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void report(bool failure, const char* fmt, ...)
{
    char line[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    std::fputs(line, stdout);
    std::fflush(stdout);
    if (failure) {
        const size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\n')
            line[n - 1] = '\0';
        qWarning("[CAPTURE] %s", line);
    }
}

}  // namespace

AiqControl::AiqControl(int frameWidth, int frameHeight) : m_width(frameWidth), m_height(frameHeight)
{
    platform::allocateCaptureBuffer(frameWidth, frameHeight);
    // The start-up goes on whatever the tuning engine answered: frames still
    // flow without it, only the setters stay inert.
    RKAIQ_ISP_Init();
    m_pipeline = true;
    startPipeline();
}

AiqControl::AiqControl(WithoutPipeline, bool running, int frameWidth, int frameHeight)
    : m_width(frameWidth), m_height(frameHeight)
{
    platform::allocateCaptureBuffer(frameWidth, frameHeight);
    RKAIQ_ISP_Init();
    m_running.store(running);
}

AiqControl::~AiqControl()
{
    m_running.store(false);
    if (gAiqControl == this)
        gAiqControl = nullptr;
    if (m_pipeline) {
        g_tearingDown.store(true);
        const MPP_CHN_S vi{RK_ID_VI, 0, 0};
        const MPP_CHN_S venc{RK_ID_VENC, 0, 0};
        // Each answers an error for what start-up never made; nothing to do then.
        RK_MPI_SYS_UnBind(&vi, &venc);
        RK_MPI_VENC_DestroyChn(0);  // no output callback runs after this
        RK_MPI_VI_DisableChn(0, 0);  // wakes the capture thread with a null buffer
        if (m_captureStarted)
            pthread_join(m_captureThread, nullptr);
        if (m_sigintInstalled)
            sigaction(SIGINT, &m_previousSigint, nullptr);
        if (g_rtsplive)
            rtsp_del_demo(g_rtsplive);
        g_rtsplive = nullptr;
        g_rtsp_session = nullptr;
        g_tearingDown.store(false);
    }
    if (m_ctx) {
        rk_aiq_uapi_sysctl_stop(m_ctx, false);
        rk_aiq_uapi_sysctl_deinit(m_ctx);
    }
}

int AiqControl::RKAIQ_ISP_Init()
{
    const rk_aiq_working_mode_t mode =
        capture::numFailDetect_4() ? RK_AIQ_WORKING_MODE_NORMAL : RK_AIQ_WORKING_MODE_ISP_HDR2;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char modeText[16];
    std::snprintf(modeText, sizeof modeText, "%d", int(mode));
    ::setenv("HDR_MODE", modeText, 1);

    rk_aiq_static_info_t meta{};
    // A failed enumeration leaves the name empty, which init refuses.
    rk_aiq_uapi_sysctl_enumStaticMetas(0, &meta);
    report(false, "ID: %d, sensor_name is %s\n", 0, meta.sensor_info.sensor_name);
    m_ctx = rk_aiq_uapi_sysctl_init(meta.sensor_info.sensor_name, "/etc/iqfiles/", nullptr, nullptr);
    // Failures of these three show in prepare, which checks the context.
    rk_aiq_uapi_setExpMode(m_ctx, OP_MANUAL);
    rk_aiq_uapi_sysctl_setMulCamConc(m_ctx, false);
    rk_aiq_uapi_setFecEn(m_ctx, false);
    if (rk_aiq_uapi_sysctl_prepare(m_ctx, 0, 0, mode) != 0) {
        report(true, "rkaiq engine prepare failed !\n");
        if (m_ctx)
            rk_aiq_uapi_sysctl_deinit(m_ctx);
        m_ctx = nullptr;
        return -1;
    }
    if (rk_aiq_uapi_sysctl_start(m_ctx) != 0) {
        report(true, "rk_aiq_uapi_sysctl_start  failed\n");
        return -1;
    }
    rk_aiq_uapi_setFrameRate(m_ctx, frameRateInfo_t{OP_MANUAL, float(kFramesPerSecond)});
    report(false, "rk_aiq_uapi_sysctl_start succeed\n");
    return 0;
}

void AiqControl::startPipeline()
{
    const int width = m_width;
    const int height = m_height;

    // Live stream: results are not checked; without a server the encoder
    // output is simply not streamed.
    g_rtsplive = create_rtsp_demo(rtsp_demo_port_from_environment());
    g_rtsp_session = rtsp_new_session(g_rtsplive, kStreamPath);
    rtsp_set_video(g_rtsp_session, RTSP_CODEC_ID_VIDEO_H264, nullptr, 0);
    rtsp_sync_video_ts(g_rtsp_session, rtsp_get_reltime(), rtsp_get_ntptime());

    RK_MPI_SYS_Init();

    VI_CHN_ATTR_S viAttr{};
    viAttr.pcVideoNode = "rkispp_scale0";
    viAttr.u32Width = RK_U32(width);
    viAttr.u32Height = RK_U32(height);
    viAttr.enPixFmt = IMAGE_TYPE_NV12;
    viAttr.u32BufCnt = kVideoBuffers;
    viAttr.enBufType = VI_CHN_BUF_TYPE_MMAP;
    viAttr.enWorkMode = VI_WORK_MODE_NORMAL;
    int ret = RK_MPI_VI_SetChnAttr(0, 0, &viAttr);
    ret |= RK_MPI_VI_EnableChn(0, 0);
    if (ret) {
        report(true, "ERROR: create VI[0] error! ret=%d\n", ret);
        return;
    }

    VENC_CHN_ATTR_S vencAttr;
    std::memset(&vencAttr, 0, sizeof vencAttr);
    vencAttr.stVencAttr.enType = RK_CODEC_TYPE_H264;
    vencAttr.stVencAttr.imageType = IMAGE_TYPE_NV12;
    vencAttr.stVencAttr.u32PicWidth = RK_U32(width);
    vencAttr.stVencAttr.u32PicHeight = RK_U32(height);
    vencAttr.stVencAttr.u32VirWidth = RK_U32(width);
    vencAttr.stVencAttr.u32VirHeight = RK_U32(height);
    vencAttr.stVencAttr.u32Profile = 77;
    vencAttr.stVencAttr.bByFrame = false;
    vencAttr.stVencAttr.enRotation = VENC_ROTATION_0;
    vencAttr.stRcAttr.enRcMode = VENC_RC_MODE_H264CBR;
    vencAttr.stRcAttr.stH264Cbr.u32Gop = kGop;
    vencAttr.stRcAttr.stH264Cbr.u32SrcFrameRateNum = kFramesPerSecond;
    vencAttr.stRcAttr.stH264Cbr.u32SrcFrameRateDen = 1;
    vencAttr.stRcAttr.stH264Cbr.fr32DstFrameRateNum = kFramesPerSecond;
    vencAttr.stRcAttr.stH264Cbr.fr32DstFrameRateDen = 1;
    vencAttr.stRcAttr.stH264Cbr.u32BitRate = RK_U32(width) * RK_U32(height);
    ret = RK_MPI_VENC_CreateChn(0, &vencAttr);
    if (ret) {
        report(true, "ERROR: create VENC[0] error! ret=%d\n", ret);
        return;
    }

    const MPP_CHN_S vencChn{RK_ID_VENC, 0, 0};
    ret = RK_MPI_SYS_RegisterOutCb(&vencChn, video_packet_cb);
    if (ret) {
        report(true, "ERROR: register output callback for VENC[0] error! ret=%d\n", ret);
        return;
    }

    const MPP_CHN_S viChn{RK_ID_VI, 0, 0};
    ret = RK_MPI_SYS_Bind(&viChn, &vencChn);
    if (ret) {
        report(true, "ERROR: Bind VI[0] and VENC[0] error! ret=%d\n", ret);
        return;
    }

    if (!startCaptureThread())
        return;

    report(false, "%s initial finish\n", "AiqControl");
    struct sigaction action {};
    action.sa_handler = sigterm_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_sigintInstalled = sigaction(SIGINT, &action, &m_previousSigint) == 0;
    m_running.store(true);
}

bool AiqControl::startCaptureThread()
{
    if (!pMutex || !gImageThread) {
        report(true, "ERROR: no frame buffer or frame-buffer mutex for the capture thread\n");
        return false;
    }
    const int ret = pthread_create(&m_captureThread, nullptr, GetMediaBuffer, this);
    if (ret != 0) {
        report(true, "ERROR: create capture thread error! ret=%d\n", ret);
        return false;
    }
    m_captureStarted = true;
    return true;
}

bool AiqControl::aiq_control_get_status() const
{
    return m_ctx != nullptr && m_running.load();
}

int AiqControl::aiq_control_setManualExp(float gain, float time)
{
    if (!aiq_control_get_status())
        return 0;
    return rk_aiq_uapi_setManualExp(m_ctx, gain, time);
}

int AiqControl::aiq_control_setSharpness(unsigned int level)
{
    if (!aiq_control_get_status())
        return 0;
    return rk_aiq_uapi_setSharpness(m_ctx, level);
}

int AiqControl::aiq_control_setContrast(unsigned int level)
{
    if (!aiq_control_get_status())
        return 0;
    return rk_aiq_uapi_setContrast(m_ctx, level);
}

int AiqControl::aiq_control_setGamma(int value)
{
    if (!aiq_control_get_status())
        return 0;
    rk_aiq_gamma_attrib_t attr;
    std::memset(&attr, 0, sizeof attr);
    const int ret = rk_aiq_user_api_agamma_GetAttrib(m_ctx, &attr);
    if (ret != 0)
        return ret;  // writing back a record never read would reset the curve
    attr.word[kGammaValueWord] = value;
    return rk_aiq_user_api_agamma_SetAttrib(m_ctx, attr);
}

int AiqControl::aiq_control_setMirror(bool mirror, bool flip)
{
    if (!aiq_control_get_status())
        return 0;
    return rk_aiq_uapi_setMirroFlip(m_ctx, mirror, flip, 0);
}

int AiqControl::aiq_control_setInitGamma()
{
    if (!aiq_control_get_status())
        return 0;
    rk_aiq_gamma_attrib_t attr;
    return rk_aiq_user_api_agamma_GetAttrib(m_ctx, &attr);
}

void* GetMediaBuffer(void*)
{
    if (quit.load())
        return nullptr;
    const size_t frameBytes = size_t(platform::captureBufferSize());
    for (;;) {
        MEDIA_BUFFER mb = RK_MPI_SYS_GetMediaBuffer(RK_ID_VI, 0, -1);
        if (!mb) {
            if (!g_tearingDown.load())
                report(true, "RK_MPI_SYS_GetMediaBuffer get null buffer!\n");
            return nullptr;
        }
        MB_IMAGE_INFO_S info;
        const int ret = RK_MPI_MB_GetImageInfo(mb, &info);
        if (ret)
            report(true, "Warn: Get image info failed! ret = %d\n", ret);
        const void* data = RK_MPI_MB_GetPtr(mb);
        const size_t bytes = std::min(RK_MPI_MB_GetSize(mb), frameBytes);
        if (data) {
            QMutexLocker lock(pMutex);
            std::memcpy(gImageThread, data, bytes);
        }
        RK_MPI_MB_ReleaseBuffer(mb);
        gFPS_Times.fetch_add(1, std::memory_order_seq_cst);
        if (quit.load())
            return nullptr;
    }
}

void video_packet_cb(MEDIA_BUFFER mb)
{
    if (!quit.load() && g_rtsplive && g_rtsp_session) {
        rtsp_tx_video(g_rtsp_session, static_cast<const uint8_t*>(RK_MPI_MB_GetPtr(mb)),
                      int(RK_MPI_MB_GetSize(mb)), RK_MPI_MB_GetTimestamp(mb));
        rtsp_do_event(g_rtsplive);
    }
    RK_MPI_MB_ReleaseBuffer(mb);
}

void sigterm_handler(int signo)
{
    // Only async-signal-safe work: format by hand, write(2), an atomic store.
    const int savedErrno = errno;
    char text[24] = "signal ";
    size_t n = 7;
    char digits[12];
    size_t d = 0;
    unsigned int value = signo < 0 ? 0u : unsigned(signo);
    do {
        digits[d++] = char('0' + value % 10);
        value /= 10;
    } while (value && d < sizeof digits);
    while (d > 0)
        text[n++] = digits[--d];
    text[n++] = '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, n);
    quit.store(true);
    errno = savedErrno;
}
