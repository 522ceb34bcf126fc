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

// Records the call; a call told to fail, or made without a context, answers
// its error; otherwise `change` runs on the context's settings, and an image
// setting (`call`) is kept in its record.
template <typename F>
XCamReturn apply(const char* name, const rk_aiq_sys_ctx_t* ctx, F change, const IspRecord::Call* call = nullptr)
{
    if (const int r = StandInCalls::enter(name))
        return r;
    if (!ctx)
        return kBadParam;
    platform::ispRecord(ctx)->update(change, call);
    return 0;
}

IspRecord::Call setting(IspRecord::Setter setter)
{
    IspRecord::Call call;
    call.setter = setter;
    return call;
}

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
    return apply(__func__, ctx, [mode](IspRecord::Settings& s) { s.workingMode = mode; });
}

XCamReturn rk_aiq_uapi_sysctl_start(rk_aiq_sys_ctx_t* ctx)
{
    if (ctx && ctx->record.settings().workingMode < 0) {
        StandInCalls::enter(__func__);
        return kBadParam;  // never prepared
    }
    return apply(__func__, ctx, [](IspRecord::Settings& s) { s.started = true; });
}

XCamReturn rk_aiq_uapi_sysctl_stop(rk_aiq_sys_ctx_t* ctx, bool)
{
    return apply(__func__, ctx, [](IspRecord::Settings& s) { s.started = false; });
}

void rk_aiq_uapi_sysctl_deinit(rk_aiq_sys_ctx_t* ctx)
{
    StandInCalls::enter(__func__);
    delete ctx;
}

XCamReturn rk_aiq_uapi_sysctl_setMulCamConc(rk_aiq_sys_ctx_t* ctx, bool cc)
{
    return apply(__func__, ctx, [cc](IspRecord::Settings& s) { s.multiCameraConcurrency = cc; });
}

XCamReturn rk_aiq_uapi_setExpMode(rk_aiq_sys_ctx_t* ctx, opMode_t mode)
{
    return apply(__func__, ctx, [mode](IspRecord::Settings& s) { s.exposureMode = mode; });
}

XCamReturn rk_aiq_uapi_setFecEn(rk_aiq_sys_ctx_t* ctx, bool en)
{
    return apply(__func__, ctx, [en](IspRecord::Settings& s) { s.distortionCorrection = en; });
}

XCamReturn rk_aiq_uapi_setFrameRate(rk_aiq_sys_ctx_t* ctx, frameRateInfo_t info)
{
    if (info.fps <= 0.0f)
        ctx = nullptr;  // refused like a missing context
    return apply(__func__, ctx, [info](IspRecord::Settings& s) { s.frameRate = info.fps; });
}

XCamReturn rk_aiq_uapi_setManualExp(rk_aiq_sys_ctx_t* ctx, float gain, float time)
{
    IspRecord::Call call = setting(IspRecord::Setter::ManualExp);
    call.gain = gain;
    call.time = time;
    return apply(
        __func__, ctx,
        [gain, time](IspRecord::Settings& s) {
            s.gain = gain;
            s.exposureTime = time;
        },
        &call);
}

XCamReturn rk_aiq_uapi_setSharpness(rk_aiq_sys_ctx_t* ctx, unsigned int level)
{
    IspRecord::Call call = setting(IspRecord::Setter::Sharpness);
    call.level = level;
    return apply(__func__, ctx, [level](IspRecord::Settings& s) { s.sharpness = level; }, &call);
}

XCamReturn rk_aiq_uapi_setContrast(rk_aiq_sys_ctx_t* ctx, unsigned int level)
{
    IspRecord::Call call = setting(IspRecord::Setter::Contrast);
    call.level = level;
    return apply(__func__, ctx, [level](IspRecord::Settings& s) { s.contrast = level; }, &call);
}

XCamReturn rk_aiq_uapi_setMirroFlip(rk_aiq_sys_ctx_t* ctx, bool mirror, bool flip, int)
{
    IspRecord::Call call = setting(IspRecord::Setter::Mirror);
    call.mirror = mirror;
    call.flip = flip;
    return apply(
        __func__, ctx,
        [mirror, flip](IspRecord::Settings& s) {
            s.mirror = mirror;
            s.flip = flip;
        },
        &call);
}

XCamReturn rk_aiq_user_api_agamma_GetAttrib(const rk_aiq_sys_ctx_t* ctx, rk_aiq_gamma_attrib_t* attr)
{
    if (!attr)
        ctx = nullptr;
    return apply(__func__, ctx, [attr](IspRecord::Settings& s) {
        std::memcpy(attr->word, s.gammaAttributes.data(), sizeof(attr->word));
    });
}

XCamReturn rk_aiq_user_api_agamma_SetAttrib(const rk_aiq_sys_ctx_t* ctx, rk_aiq_gamma_attrib_t attr)
{
    IspRecord::Call call = setting(IspRecord::Setter::Gamma);
    call.gamma = attr.word[6];
    return apply(
        __func__, ctx,
        [&attr](IspRecord::Settings& s) { std::memcpy(s.gammaAttributes.data(), attr.word, sizeof(attr.word)); },
        &call);
}
