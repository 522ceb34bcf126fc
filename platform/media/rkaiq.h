#pragma once
// Stand-in for the SoC vendor's image-signal-processor tuning library
// (rkaiq): the calls the capture controller makes, with the vendor's names,
// arguments and results (0 success, non-zero failure; a null context from
// init on failure). Any call can be made to fail (standincalls.h).
//
// There is no ISP on this machine: a context only keeps what it was told
// (IspRecord), so that tests and tools can see what reached the ISP.
// Threads: any thread may call; each context guards its record.
#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

typedef int XCamReturn;  // 0 = XCAM_RETURN_NO_ERROR

enum rk_aiq_working_mode_t {
    RK_AIQ_WORKING_MODE_NORMAL = 0,
    RK_AIQ_WORKING_MODE_ISP_HDR2 = 0x10,
    RK_AIQ_WORKING_MODE_ISP_HDR3 = 0x20,
};

enum opMode_t { OP_AUTO = 0, OP_MANUAL = 1, OP_SEMI_AUTO = 2, OP_INVAL };

struct frameRateInfo_t {
    opMode_t mode;
    float fps;
};

struct rk_aiq_static_info_t {
    struct {
        char sensor_name[32];
    } sensor_info;
};

// The gamma attribute record: read, change, write back.
struct rk_aiq_gamma_attrib_t {
    int32_t word[16];
};

typedef void (*rk_aiq_error_cb)(void*);
typedef void (*rk_aiq_metas_cb)(void*);

typedef struct rk_aiq_sys_ctx_s rk_aiq_sys_ctx_t;

XCamReturn rk_aiq_uapi_sysctl_enumStaticMetas(int index, rk_aiq_static_info_t* static_info);
// A new context for the sensor, null on failure.
rk_aiq_sys_ctx_t* rk_aiq_uapi_sysctl_init(const char* sns_ent_name, const char* iq_file_dir, rk_aiq_error_cb err_cb,
                                          rk_aiq_metas_cb metas_cb);
XCamReturn rk_aiq_uapi_sysctl_prepare(rk_aiq_sys_ctx_t* ctx, uint32_t width, uint32_t height,
                                      rk_aiq_working_mode_t mode);
XCamReturn rk_aiq_uapi_sysctl_start(rk_aiq_sys_ctx_t* ctx);
XCamReturn rk_aiq_uapi_sysctl_stop(rk_aiq_sys_ctx_t* ctx, bool keep_ext_hw_st);
void rk_aiq_uapi_sysctl_deinit(rk_aiq_sys_ctx_t* ctx);
XCamReturn rk_aiq_uapi_sysctl_setMulCamConc(rk_aiq_sys_ctx_t* ctx, bool cc);

XCamReturn rk_aiq_uapi_setExpMode(rk_aiq_sys_ctx_t* ctx, opMode_t mode);
XCamReturn rk_aiq_uapi_setFecEn(rk_aiq_sys_ctx_t* ctx, bool en);
XCamReturn rk_aiq_uapi_setFrameRate(rk_aiq_sys_ctx_t* ctx, frameRateInfo_t info);
XCamReturn rk_aiq_uapi_setManualExp(rk_aiq_sys_ctx_t* ctx, float gain, float time);
XCamReturn rk_aiq_uapi_setSharpness(rk_aiq_sys_ctx_t* ctx, unsigned int level);
XCamReturn rk_aiq_uapi_setContrast(rk_aiq_sys_ctx_t* ctx, unsigned int level);
XCamReturn rk_aiq_uapi_setMirroFlip(rk_aiq_sys_ctx_t* ctx, bool mirror, bool flip, int skip_frm_cnt);
XCamReturn rk_aiq_user_api_agamma_GetAttrib(const rk_aiq_sys_ctx_t* ctx, rk_aiq_gamma_attrib_t* attr);
XCamReturn rk_aiq_user_api_agamma_SetAttrib(const rk_aiq_sys_ctx_t* ctx, rk_aiq_gamma_attrib_t attr);

namespace platform {

// The sensor name the stand-in reports.
constexpr const char* kStandInSensorName = "m00_b_orvale-sim 1-0036";

// What one ISP context has been told.
class IspRecord {
public:
    enum class Setter { ManualExp, Sharpness, Contrast, Gamma, Mirror };

    // One image setting as it reached the ISP. Only the fields of its setter
    // mean anything.
    struct Call {
        Setter setter = Setter::ManualExp;
        float gain = 0.0f;       // ManualExp
        float time = 0.0f;       // ManualExp, seconds
        unsigned int level = 0;  // Sharpness, Contrast
        int gamma = 0;           // Gamma: the value written into the record
        bool mirror = false;     // Mirror: left-right
        bool flip = false;       // Mirror: up-down
    };

    static constexpr int kGammaWords = 16;

    // The ISP's current settings.
    struct Settings {
        float gain = 1.0f;
        float exposureTime = 0.0f;  // seconds; 0 = automatic exposure
        unsigned int sharpness = 50;
        unsigned int contrast = 50;
        std::array<int32_t, kGammaWords> gammaAttributes{};
        bool mirror = false;
        bool flip = false;
        // System control.
        int exposureMode = 0;  // opMode_t
        bool multiCameraConcurrency = true;
        bool distortionCorrection = true;
        int workingMode = -1;  // rk_aiq_working_mode_t once prepared
        float frameRate = 0.0f;
        bool started = false;
    };

    std::vector<Call> calls() const;
    void clearCalls();
    Settings settings() const;

    // For the stand-in functions: changes the settings under the record's
    // lock, and for an image setting (call given) keeps the call.
    template <typename F>
    void update(F change, const Call* call = nullptr)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_settings);
        if (call)
            m_calls.push_back(*call);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    Settings m_settings;
};

// The record of a context made by rk_aiq_uapi_sysctl_init (null for null).
IspRecord* ispRecord(const rk_aiq_sys_ctx_t* ctx);

}  // namespace platform
