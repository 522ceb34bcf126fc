#include "platform/media/rkmedia.h"

#include "platform/media/h264encoder.h"
#include "platform/media/sensorscene.h"
#include "platform/media/standincalls.h"

#include <QDebug>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using platform::StandInCalls;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kChannels = 4;
constexpr int kFramesPerSecond = 20;
constexpr size_t kUserQueueDepth = 2;     // frames kept for RK_MPI_SYS_GetMediaBuffer
constexpr size_t kEncoderQueueDepth = 2;  // frames waiting for an encoder
constexpr RK_U32 kMaxBuffers = 16;
constexpr RK_S32 kFailure = -1;

struct FramePool;

// One media buffer: a sensor frame (lent from its channel's pool) or an
// encoded access unit (owned by itself).
struct MediaBuffer {
    std::vector<uint8_t> storage;
    size_t size = 0;
    uint64_t timestampUs = 0;
    bool isImage = false;
    MB_IMAGE_INFO_S info{};
    std::atomic<int> refs{0};
    std::shared_ptr<FramePool> lentBy;  // set while a pool buffer is out
};

struct FramePool : std::enable_shared_from_this<FramePool> {
    std::mutex mutex;
    std::condition_variable returned;
    std::vector<std::unique_ptr<MediaBuffer>> all;
    std::vector<MediaBuffer*> free;

    // A free buffer, waiting for one until `until`; null when none came.
    MediaBuffer* take(SteadyClock::time_point until)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!returned.wait_until(lock, until, [this] { return !free.empty(); }))
            return nullptr;
        MediaBuffer* mb = free.back();
        free.pop_back();
        mb->refs.store(1);
        mb->lentBy = shared_from_this();
        return mb;
    }
    void giveBack(MediaBuffer* mb)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            free.push_back(mb);
        }
        returned.notify_one();
    }
};

void addRef(MediaBuffer* mb)
{
    mb->refs.fetch_add(1);
}

void release(MediaBuffer* mb)
{
    if (mb->refs.fetch_sub(1) != 1)
        return;
    if (mb->lentBy) {
        // The pool may go away with its last lent buffer: keep it until the
        // buffer is back, and touch nothing afterwards.
        std::shared_ptr<FramePool> pool = std::move(mb->lentBy);
        pool->giveBack(mb);
        return;
    }
    delete mb;
}

uint64_t monotonicUs(SteadyClock::time_point t)
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count());
}

// One frame copied into the encoder's own input memory.
struct EncoderInput {
    std::vector<uint8_t> bytes;
    uint64_t timestampUs = 0;
};

// The encoder takes each frame into memory of its own, as the board's
// encoder does by DMA, so a busy encoder never holds the sensor's buffers.
struct VencChannel {
    VENC_CHN_ATTR_S attr{};
    platform::H264Encoder encoder;
    std::atomic<OutCbFunc> callback{nullptr};
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<EncoderInput> input;
    std::vector<EncoderInput> spare;  // recycled input memory
    bool stopping = false;
    std::thread worker;

    void push(const MediaBuffer* mb)
    {
        EncoderInput in;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!spare.empty()) {
                in = std::move(spare.back());
                spare.pop_back();
            }
        }
        in.bytes.assign(mb->storage.begin(), mb->storage.begin() + std::ptrdiff_t(mb->size));
        in.timestampUs = mb->timestampUs;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (input.size() >= kEncoderQueueDepth) {
                spare.push_back(std::move(input.front()));  // the oldest frame is never encoded
                input.pop_front();
            }
            input.push_back(std::move(in));
        }
        wake.notify_one();
    }

    void run()
    {
        int64_t pts = 0;
        for (;;) {
            EncoderInput in;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this] { return stopping || !input.empty(); });
                if (stopping)
                    break;
                in = std::move(input.front());
                input.pop_front();
            }
            platform::encodeFrameToCallback(encoder, in.bytes.data(), pts++, in.timestampUs, callback.load());
            std::lock_guard<std::mutex> lock(mutex);
            spare.push_back(std::move(in));
        }
    }
};

struct ViChannel {
    VI_CHN_ATTR_S attr{};
    std::string node;
    bool enabled = false;
    std::shared_ptr<FramePool> pool;
    std::unique_ptr<platform::SensorScene> scene;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<MediaBuffer*> userQueue;
    bool stopping = false;
    std::thread sensor;
    std::atomic<uint64_t> dropped{0};
};

struct Binding {
    int vi;
    int venc;
};

// The library's tables. Lock order: mutex, then a channel's own mutex, then
// a pool's.
struct Media {
    std::mutex mutex;
    bool initialised = false;
    std::shared_ptr<ViChannel> vi[kChannels];
    std::shared_ptr<VencChannel> venc[kChannels];
    std::vector<Binding> bindings;
};

Media& media()
{
    static Media* m = new Media;  // threads may outlive static destruction
    return *m;
}

bool validChannel(int chn)
{
    return chn >= 0 && chn < kChannels;
}

void runSensor(ViChannel* vi, int chn)
{
    const auto period = std::chrono::nanoseconds(1000000000 / kFramesPerSecond);
    const SteadyClock::time_point start = SteadyClock::now();
    uint64_t n = 0;
    for (;;) {
        const SteadyClock::time_point deadline = start + period * int64_t(n);
        {
            std::unique_lock<std::mutex> lock(vi->mutex);
            if (vi->wake.wait_until(lock, deadline, [vi] { return vi->stopping; }))
                return;
        }
        // A thread woken late delivers the frames it owes at once, so the
        // rate holds on a busy machine; a stall of a second or more is a
        // real gap and its frames are never delivered.
        const SteadyClock::time_point now = SteadyClock::now();
        if (now - deadline >= std::chrono::seconds(1)) {
            const uint64_t missed = uint64_t((now - start) / period) - n;
            vi->dropped.fetch_add(missed);
            n += missed;
            continue;
        }
        MediaBuffer* mb = vi->pool->take(std::max(SteadyClock::now(), deadline + period));
        if (!mb) {
            vi->dropped.fetch_add(1);  // every buffer held downstream for a whole period
            ++n;
            continue;
        }
        vi->scene->render(uint32_t(n), mb->storage.data());
        mb->timestampUs = monotonicUs(deadline);

        MediaBuffer* old = nullptr;
        addRef(mb);
        {
            std::lock_guard<std::mutex> lock(vi->mutex);
            if (vi->userQueue.size() >= kUserQueueDepth) {
                old = vi->userQueue.front();
                vi->userQueue.pop_front();
            }
            vi->userQueue.push_back(mb);
        }
        vi->wake.notify_all();
        if (old)
            release(old);
        {
            Media& m = media();
            std::lock_guard<std::mutex> lock(m.mutex);
            for (const Binding& b : m.bindings) {
                if (b.vi == chn && m.venc[b.venc])
                    m.venc[b.venc]->push(mb);
            }
        }
        release(mb);
        ++n;
    }
}

MediaBuffer* asBuffer(MEDIA_BUFFER mb)
{
    return static_cast<MediaBuffer*>(mb);
}

}  // namespace

RK_S32 RK_MPI_SYS_Init()
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    std::lock_guard<std::mutex> lock(media().mutex);
    media().initialised = true;
    return 0;
}

RK_S32 RK_MPI_VI_SetChnAttr(VI_PIPE ViPipe, VI_CHN ViChn, const VI_CHN_ATTR_S* attr)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    Media& m = media();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (!m.initialised || ViPipe != 0 || !validChannel(ViChn) || !attr || !attr->pcVideoNode
        || attr->enPixFmt != IMAGE_TYPE_NV12 || attr->u32Width < 32 || attr->u32Height < 2
        || attr->u32Width % 2 || attr->u32Height % 2 || attr->u32Width > 8192 || attr->u32Height > 8192
        || attr->u32BufCnt < 1 || attr->u32BufCnt > kMaxBuffers)
        return kFailure;
    if (m.vi[ViChn] && m.vi[ViChn]->enabled)
        return kFailure;
    auto vi = std::make_shared<ViChannel>();
    vi->attr = *attr;
    vi->node = attr->pcVideoNode;
    vi->attr.pcVideoNode = vi->node.c_str();
    m.vi[ViChn] = vi;
    return 0;
}

RK_S32 RK_MPI_VI_EnableChn(VI_PIPE ViPipe, VI_CHN ViChn)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    Media& m = media();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (ViPipe != 0 || !validChannel(ViChn) || !m.vi[ViChn] || m.vi[ViChn]->enabled)
        return kFailure;
    ViChannel* vi = m.vi[ViChn].get();
    const int w = int(vi->attr.u32Width);
    const int h = int(vi->attr.u32Height);
    vi->scene = std::make_unique<platform::SensorScene>(w, h);
    vi->pool = std::make_shared<FramePool>();
    for (RK_U32 i = 0; i < vi->attr.u32BufCnt; ++i) {
        auto mb = std::make_unique<MediaBuffer>();
        mb->storage.resize(size_t(vi->scene->frameBytes()));
        mb->size = mb->storage.size();
        mb->isImage = true;
        mb->info = {vi->attr.u32Width, vi->attr.u32Height, vi->attr.u32Width, vi->attr.u32Height, IMAGE_TYPE_NV12};
        vi->pool->free.push_back(mb.get());
        vi->pool->all.push_back(std::move(mb));
    }
    vi->enabled = true;
    vi->sensor = std::thread(runSensor, vi, int(ViChn));
    return 0;
}

RK_S32 RK_MPI_VI_DisableChn(VI_PIPE ViPipe, VI_CHN ViChn)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    std::shared_ptr<ViChannel> vi;
    {
        Media& m = media();
        std::lock_guard<std::mutex> lock(m.mutex);
        if (ViPipe != 0 || !validChannel(ViChn) || !m.vi[ViChn] || !m.vi[ViChn]->enabled)
            return kFailure;
        vi = std::move(m.vi[ViChn]);
        for (auto it = m.bindings.begin(); it != m.bindings.end();)
            it = it->vi == ViChn ? m.bindings.erase(it) : it + 1;
    }
    {
        std::lock_guard<std::mutex> lock(vi->mutex);
        vi->stopping = true;
    }
    vi->wake.notify_all();
    vi->sensor.join();
    // Only after the sensor has ended: a frame it was queueing as it stopped
    // would otherwise stay lent for ever and keep the pool alive.
    std::deque<MediaBuffer*> left;
    {
        std::lock_guard<std::mutex> lock(vi->mutex);
        left.swap(vi->userQueue);
    }
    for (MediaBuffer* mb : left)
        release(mb);
    return 0;
}

RK_S32 RK_MPI_VENC_CreateChn(VENC_CHN VeChn, VENC_CHN_ATTR_S* attr)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    Media& m = media();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (!m.initialised || !validChannel(VeChn) || !attr || m.venc[VeChn])
        return kFailure;
    const VENC_ATTR_S& v = attr->stVencAttr;
    const VENC_H264_CBR_S& cbr = attr->stRcAttr.stH264Cbr;
    if (v.enType != RK_CODEC_TYPE_H264 || v.imageType != IMAGE_TYPE_NV12 || v.enRotation != VENC_ROTATION_0
        || v.u32PicWidth != v.u32VirWidth || v.u32PicHeight != v.u32VirHeight
        || attr->stRcAttr.enRcMode != VENC_RC_MODE_H264CBR || cbr.u32SrcFrameRateDen == 0
        || cbr.fr32DstFrameRateDen == 0 || cbr.fr32DstFrameRateNum == 0)
        return kFailure;
    auto venc = std::make_shared<VencChannel>();
    venc->attr = *attr;
    platform::H264Encoder::Config config;
    config.width = int(v.u32PicWidth);
    config.height = int(v.u32PicHeight);
    config.profileIdc = int(v.u32Profile);
    config.gop = int(cbr.u32Gop);
    config.fps = int(cbr.fr32DstFrameRateNum / cbr.fr32DstFrameRateDen);
    config.bitRate = int(cbr.u32BitRate);
    if (!venc->encoder.open(config))
        return kFailure;
    VencChannel* raw = venc.get();
    venc->worker = std::thread([raw] { raw->run(); });
    m.venc[VeChn] = std::move(venc);
    return 0;
}

RK_S32 RK_MPI_VENC_DestroyChn(VENC_CHN VeChn)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    std::shared_ptr<VencChannel> venc;
    {
        Media& m = media();
        std::lock_guard<std::mutex> lock(m.mutex);
        if (!validChannel(VeChn) || !m.venc[VeChn])
            return kFailure;
        for (const Binding& b : m.bindings) {
            if (b.venc == VeChn)
                return kFailure;  // unbind first
        }
        venc = std::move(m.venc[VeChn]);
    }
    {
        std::lock_guard<std::mutex> lock(venc->mutex);
        venc->stopping = true;
    }
    venc->wake.notify_all();
    venc->worker.join();
    return 0;
}

RK_S32 RK_MPI_SYS_RegisterOutCb(const MPP_CHN_S* chn, OutCbFunc cb)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    Media& m = media();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (!chn || chn->enModId != RK_ID_VENC || chn->s32DevId != 0 || !validChannel(chn->s32ChnId)
        || !m.venc[chn->s32ChnId])
        return kFailure;
    m.venc[chn->s32ChnId]->callback.store(cb);
    return 0;
}

RK_S32 RK_MPI_SYS_Bind(const MPP_CHN_S* src, const MPP_CHN_S* dst)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    Media& m = media();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (!src || !dst || src->enModId != RK_ID_VI || dst->enModId != RK_ID_VENC || src->s32DevId != 0
        || dst->s32DevId != 0 || !validChannel(src->s32ChnId) || !validChannel(dst->s32ChnId)
        || !m.vi[src->s32ChnId] || !m.venc[dst->s32ChnId])
        return kFailure;
    const ViChannel& vi = *m.vi[src->s32ChnId];
    const VENC_ATTR_S& v = m.venc[dst->s32ChnId]->attr.stVencAttr;
    if (vi.attr.u32Width != v.u32PicWidth || vi.attr.u32Height != v.u32PicHeight)
        return kFailure;
    for (const Binding& b : m.bindings) {
        if (b.venc == dst->s32ChnId)
            return kFailure;
    }
    m.bindings.push_back({src->s32ChnId, dst->s32ChnId});
    return 0;
}

RK_S32 RK_MPI_SYS_UnBind(const MPP_CHN_S* src, const MPP_CHN_S* dst)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    Media& m = media();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (!src || !dst)
        return kFailure;
    for (auto it = m.bindings.begin(); it != m.bindings.end(); ++it) {
        if (it->vi == src->s32ChnId && it->venc == dst->s32ChnId) {
            m.bindings.erase(it);
            return 0;
        }
    }
    return kFailure;
}

MEDIA_BUFFER RK_MPI_SYS_GetMediaBuffer(MOD_ID_E enModID, RK_S32 s32ChnID, RK_S32 s32MilliSec)
{
    if (StandInCalls::enter(__func__, false))
        return nullptr;
    std::shared_ptr<ViChannel> vi;
    {
        Media& m = media();
        std::lock_guard<std::mutex> lock(m.mutex);
        if (enModID != RK_ID_VI || !validChannel(s32ChnID) || !m.vi[s32ChnID] || !m.vi[s32ChnID]->enabled)
            return nullptr;
        vi = m.vi[s32ChnID];
    }
    std::unique_lock<std::mutex> lock(vi->mutex);
    const auto ready = [&vi] { return vi->stopping || !vi->userQueue.empty(); };
    if (s32MilliSec < 0)
        vi->wake.wait(lock, ready);
    else if (!vi->wake.wait_for(lock, std::chrono::milliseconds(s32MilliSec), ready))
        return nullptr;
    if (vi->stopping)
        return nullptr;
    MediaBuffer* mb = vi->userQueue.front();
    vi->userQueue.pop_front();
    return mb;  // the queue's reference passes to the caller
}

void* RK_MPI_MB_GetPtr(MEDIA_BUFFER mb)
{
    if (StandInCalls::enter(__func__, false) || !mb)
        return nullptr;
    return asBuffer(mb)->storage.data();
}

size_t RK_MPI_MB_GetSize(MEDIA_BUFFER mb)
{
    if (StandInCalls::enter(__func__, false) || !mb)
        return 0;
    return asBuffer(mb)->size;
}

RK_U64 RK_MPI_MB_GetTimestamp(MEDIA_BUFFER mb)
{
    if (StandInCalls::enter(__func__, false) || !mb)
        return 0;
    return asBuffer(mb)->timestampUs;
}

RK_S32 RK_MPI_MB_GetImageInfo(MEDIA_BUFFER mb, MB_IMAGE_INFO_S* info)
{
    if (const int r = StandInCalls::enter(__func__, false))
        return r;
    if (!mb || !info || !asBuffer(mb)->isImage)
        return kFailure;
    *info = asBuffer(mb)->info;
    return 0;
}

RK_S32 RK_MPI_MB_ReleaseBuffer(MEDIA_BUFFER mb)
{
    if (const int r = StandInCalls::enter(__func__, false))
        return r;
    if (!mb)
        return kFailure;
    release(asBuffer(mb));
    return 0;
}

namespace platform {

int encodeFrameToCallback(H264Encoder& encoder, const uint8_t* nv12, int64_t pts, uint64_t timestampUs,
                          OutCbFunc cb)
{
    const uint8_t* unit = nullptr;
    const int bytes = encoder.encode(nv12, pts, &unit);
    if (bytes <= 0)
        return bytes;
    auto* out = new MediaBuffer;
    out->storage.assign(unit, unit + bytes);
    out->size = size_t(bytes);
    out->timestampUs = timestampUs;
    out->refs.store(1);
    if (cb)
        cb(out);
    else
        release(out);
    return bytes;
}

}  // namespace platform
