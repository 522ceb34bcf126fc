#include "platform/media/rkaiq.h"

#include "platform/media/standincalls.h"

#include <cstring>

using platform::IspRecord;
using platform::StandInCalls;

struct rk_aiq_sys_ctx_s {
    IspRecord record;
};

namespace platform {

std::vector<IspRecord::Call> IspRecord::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void IspRecord::clearCalls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

IspRecord::Settings IspRecord::settings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

IspRecord* ispRecord(const rk_aiq_sys_ctx_t* ctx)
{
    return ctx ? &const_cast<rk_aiq_sys_ctx_t*>(ctx)->record : nullptr;
}

}  // namespace platform

namespace {

constexpr XCamReturn kBadParam = -2;  // XCAM_RETURN_ERROR_PARAM

}  // namespace

XCamReturn rk_aiq_uapi_sysctl_enumStaticMetas(int index, rk_aiq_static_info_t* static_info)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (index != 0 || !static_info)
        return kBadParam;
    std::memset(static_info, 0, sizeof(*static_info));
    std::strncpy(static_info->sensor_info.sensor_name, platform::kStandInSensorName,
                 sizeof(static_info->sensor_info.sensor_name) - 1);
    return 0;
}

rk_aiq_sys_ctx_t* rk_aiq_uapi_sysctl_init(const char* sns_ent_name, const char*, rk_aiq_error_cb, rk_aiq_metas_cb)
{
    if (StandInCalls::enter(__func__))
        return nullptr;
    if (!sns_ent_name || std::strcmp(sns_ent_name, platform::kStandInSensorName) != 0)
        return nullptr;
    return new rk_aiq_sys_ctx_t;
}

XCamReturn rk_aiq_uapi_sysctl_prepare(rk_aiq_sys_ctx_t* ctx, uint32_t, uint32_t, rk_aiq_working_mode_t mode)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    ctx->record.update([mode](IspRecord::Settings& s) { s.workingMode = mode; });
    return 0;
}

XCamReturn rk_aiq_uapi_sysctl_start(rk_aiq_sys_ctx_t* ctx)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx || ctx->record.settings().workingMode < 0)
        return kBadParam;
    ctx->record.update([](IspRecord::Settings& s) { s.started = true; });
    return 0;
}

XCamReturn rk_aiq_uapi_sysctl_stop(rk_aiq_sys_ctx_t* ctx, bool)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    ctx->record.update([](IspRecord::Settings& s) { s.started = false; });
    return 0;
}

void rk_aiq_uapi_sysctl_deinit(rk_aiq_sys_ctx_t* ctx)
{
    StandInCalls::enter(__func__);
    delete ctx;
}

XCamReturn rk_aiq_uapi_sysctl_setMulCamConc(rk_aiq_sys_ctx_t* ctx, bool cc)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    ctx->record.update([cc](IspRecord::Settings& s) { s.multiCameraConcurrency = cc; });
    return 0;
}

XCamReturn rk_aiq_uapi_setExpMode(rk_aiq_sys_ctx_t* ctx, opMode_t mode)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    ctx->record.update([mode](IspRecord::Settings& s) { s.exposureMode = mode; });
    return 0;
}

XCamReturn rk_aiq_uapi_setFecEn(rk_aiq_sys_ctx_t* ctx, bool en)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    ctx->record.update([en](IspRecord::Settings& s) { s.distortionCorrection = en; });
    return 0;
}

XCamReturn rk_aiq_uapi_setFrameRate(rk_aiq_sys_ctx_t* ctx, frameRateInfo_t info)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx || info.fps <= 0.0f)
        return kBadParam;
    ctx->record.update([info](IspRecord::Settings& s) { s.frameRate = info.fps; });
    return 0;
}

XCamReturn rk_aiq_uapi_setManualExp(rk_aiq_sys_ctx_t* ctx, float gain, float time)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    IspRecord::Call call;
    call.setter = IspRecord::Setter::ManualExp;
    call.gain = gain;
    call.time = time;
    ctx->record.update(
        [gain, time](IspRecord::Settings& s) {
            s.gain = gain;
            s.exposureTime = time;
        },
        &call);
    return 0;
}

XCamReturn rk_aiq_uapi_setSharpness(rk_aiq_sys_ctx_t* ctx, unsigned int level)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    IspRecord::Call call;
    call.setter = IspRecord::Setter::Sharpness;
    call.level = level;
    ctx->record.update([level](IspRecord::Settings& s) { s.sharpness = level; }, &call);
    return 0;
}

XCamReturn rk_aiq_uapi_setContrast(rk_aiq_sys_ctx_t* ctx, unsigned int level)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    IspRecord::Call call;
    call.setter = IspRecord::Setter::Contrast;
    call.level = level;
    ctx->record.update([level](IspRecord::Settings& s) { s.contrast = level; }, &call);
    return 0;
}

XCamReturn rk_aiq_uapi_setMirroFlip(rk_aiq_sys_ctx_t* ctx, bool mirror, bool flip, int)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    IspRecord::Call call;
    call.setter = IspRecord::Setter::Mirror;
    call.mirror = mirror;
    call.flip = flip;
    ctx->record.update(
        [mirror, flip](IspRecord::Settings& s) {
            s.mirror = mirror;
            s.flip = flip;
        },
        &call);
    return 0;
}

XCamReturn rk_aiq_user_api_agamma_GetAttrib(const rk_aiq_sys_ctx_t* ctx, rk_aiq_gamma_attrib_t* attr)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx || !attr)
        return kBadParam;
    const IspRecord::Settings s = ctx->record.settings();
    std::memcpy(attr->word, s.gammaAttributes.data(), sizeof(attr->word));
    return 0;
}

XCamReturn rk_aiq_user_api_agamma_SetAttrib(const rk_aiq_sys_ctx_t* ctx, rk_aiq_gamma_attrib_t attr)
{
    if (const int r = StandInCalls::enter(__func__))
        return r;
    if (!ctx)
        return kBadParam;
    IspRecord::Call call;
    call.setter = IspRecord::Setter::Gamma;
    call.gamma = attr.word[6];
    const_cast<rk_aiq_sys_ctx_t*>(ctx)->record.update(
        [&attr](IspRecord::Settings& s) { std::memcpy(s.gammaAttributes.data(), attr.word, sizeof(attr.word)); },
        &call);
    return 0;
}
