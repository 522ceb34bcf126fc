#pragma once
// Stand-in for the SoC vendor's media library (rkmedia): system init, a
// video-input channel fed by the simulated sensor, an H.264 encoder channel
// on libx264, binding the two, an output callback for encoded frames and
// the media buffers that carry frames. Vendor names, arguments and results
// (0 success, non-zero failure); any call can be made to fail
// (standincalls.h).
//
// Video input: the sensor delivers NV12 frames of the channel's size at
// 20 frames per second on monotonic-clock deadlines into a pool of the
// channel's buffer count; a frame that finds no buffer freed within a
// period is dropped; a sensor thread woken late delivers the frames it owes
// at once, unless it was held up a second or more (those frames are
// dropped). Each frame goes to RK_MPI_SYS_GetMediaBuffer (the newest two are kept for it) and to every
// bound encoder. Encoder: one access unit per frame, in one buffer stamped
// with the frame's capture time (monotonic clock, microseconds), handed to
// the registered output callback on the encoder's own thread; the callback
// releases it.
//
// Threads: the calls may come from any thread; the sensor and each encoder
// channel run threads of their own.
#include <cstddef>
#include <cstdint>

typedef int32_t RK_S32;
typedef uint32_t RK_U32;
typedef uint64_t RK_U64;
typedef char RK_CHAR;
typedef bool RK_BOOL;
typedef RK_S32 VI_PIPE;
typedef RK_S32 VI_CHN;
typedef RK_S32 VENC_CHN;
typedef void* MEDIA_BUFFER;

enum MOD_ID_E { RK_ID_UNKNOW = 0, RK_ID_VB, RK_ID_SYS, RK_ID_VDEC, RK_ID_VENC, RK_ID_H264E, RK_ID_VI = 11 };

enum IMAGE_TYPE_E { IMAGE_TYPE_UNKNOW = 0, IMAGE_TYPE_GRAY8, IMAGE_TYPE_GRAY16, IMAGE_TYPE_YUV420P, IMAGE_TYPE_NV12 };

enum CODEC_TYPE_E { RK_CODEC_TYPE_NONE = -1, RK_CODEC_TYPE_H264 = 6, RK_CODEC_TYPE_H265 = 7 };

enum VI_CHN_BUF_TYPE { VI_CHN_BUF_TYPE_DMA = 0, VI_CHN_BUF_TYPE_MMAP = 1 };
enum VI_CHN_WORK_MODE { VI_WORK_MODE_NORMAL = 0, VI_WORK_MODE_LUMA_ONLY = 1 };
enum VENC_RC_MODE_E { VENC_RC_MODE_H264CBR = 1, VENC_RC_MODE_H264VBR, VENC_RC_MODE_H264AVBR };
enum VENC_ROTATION_E { VENC_ROTATION_0 = 0, VENC_ROTATION_90 = 90, VENC_ROTATION_180 = 180, VENC_ROTATION_270 = 270 };

struct MPP_CHN_S {
    MOD_ID_E enModId;
    RK_S32 s32DevId;
    RK_S32 s32ChnId;
};

struct VI_CHN_ATTR_S {
    const RK_CHAR* pcVideoNode;
    RK_U32 u32Width;
    RK_U32 u32Height;
    IMAGE_TYPE_E enPixFmt;
    RK_U32 u32BufCnt;
    VI_CHN_BUF_TYPE enBufType;
    VI_CHN_WORK_MODE enWorkMode;
};

struct VENC_ATTR_H264_S {
    RK_U32 u32Level;
};

struct VENC_ATTR_S {
    CODEC_TYPE_E enType;
    IMAGE_TYPE_E imageType;
    RK_U32 u32VirWidth;
    RK_U32 u32VirHeight;
    RK_U32 u32Profile;
    RK_BOOL bByFrame;
    RK_U32 u32PicWidth;
    RK_U32 u32PicHeight;
    VENC_ROTATION_E enRotation;
    VENC_ATTR_H264_S stAttrH264e;
};

struct VENC_H264_CBR_S {
    RK_U32 u32Gop;
    RK_U32 u32SrcFrameRateNum;
    RK_U32 u32SrcFrameRateDen;
    RK_U32 fr32DstFrameRateNum;
    RK_U32 fr32DstFrameRateDen;
    RK_U32 u32BitRate;
};

struct VENC_RC_ATTR_S {
    VENC_RC_MODE_E enRcMode;
    VENC_H264_CBR_S stH264Cbr;
};

struct VENC_GOP_ATTR_S {
    RK_S32 enGopMode;
    RK_U32 u32GopSize;
    RK_S32 s32IPQpDelta;
    RK_U32 u32BgInterval;
    RK_S32 s32ViQpDelta;
};

struct VENC_CHN_ATTR_S {
    VENC_ATTR_S stVencAttr;
    VENC_RC_ATTR_S stRcAttr;
    VENC_GOP_ATTR_S stGopAttr;
};

struct MB_IMAGE_INFO_S {
    RK_U32 u32Width;
    RK_U32 u32Height;
    RK_U32 u32HorStride;
    RK_U32 u32VerStride;
    IMAGE_TYPE_E enImgType;
};

typedef void (*OutCbFunc)(MEDIA_BUFFER mb);

RK_S32 RK_MPI_SYS_Init();
RK_S32 RK_MPI_SYS_Bind(const MPP_CHN_S* pstSrcChn, const MPP_CHN_S* pstDestChn);
RK_S32 RK_MPI_SYS_UnBind(const MPP_CHN_S* pstSrcChn, const MPP_CHN_S* pstDestChn);
RK_S32 RK_MPI_SYS_RegisterOutCb(const MPP_CHN_S* pstChn, OutCbFunc cb);
// The next frame of a video-input channel; waits up to s32MilliSec (-1: no
// limit). Null on time-out or when the channel is (or becomes) disabled.
MEDIA_BUFFER RK_MPI_SYS_GetMediaBuffer(MOD_ID_E enModID, RK_S32 s32ChnID, RK_S32 s32MilliSec);

RK_S32 RK_MPI_VI_SetChnAttr(VI_PIPE ViPipe, VI_CHN ViChn, const VI_CHN_ATTR_S* pstChnAttr);
RK_S32 RK_MPI_VI_EnableChn(VI_PIPE ViPipe, VI_CHN ViChn);
RK_S32 RK_MPI_VI_DisableChn(VI_PIPE ViPipe, VI_CHN ViChn);

RK_S32 RK_MPI_VENC_CreateChn(VENC_CHN VeChn, VENC_CHN_ATTR_S* stVencChnAttr);
RK_S32 RK_MPI_VENC_DestroyChn(VENC_CHN VeChn);

void* RK_MPI_MB_GetPtr(MEDIA_BUFFER mb);
size_t RK_MPI_MB_GetSize(MEDIA_BUFFER mb);
RK_U64 RK_MPI_MB_GetTimestamp(MEDIA_BUFFER mb);
RK_S32 RK_MPI_MB_GetImageInfo(MEDIA_BUFFER mb, MB_IMAGE_INFO_S* pstImageInfo);
RK_S32 RK_MPI_MB_ReleaseBuffer(MEDIA_BUFFER mb);

namespace platform {

class H264Encoder;

// The encoder channel's work for one frame, on the calling thread: encodes
// nv12, wraps the access unit in a media buffer stamped `timestampUs` and
// hands it to `cb` (which releases it; without cb it is released here).
// Returns the unit's byte count, or -1. What the encoder thread does per
// frame; benchmarks call it directly.
int encodeFrameToCallback(H264Encoder& encoder, const uint8_t* nv12, int64_t pts, uint64_t timestampUs,
                          OutCbFunc cb);

}  // namespace platform
