#pragma once
// Control of the board's image signal processor (ISP): the setters that the
// camera facade calls when camera parameters are applied (manual exposure,
// sharpness, gamma, contrast, mirror and flip).
//
// The vendor's tuning library is not on this machine, so this is its
// stand-in. It answers as the real controller does: every setter is a no-op
// returning 0 while aiq_control_get_status() is false (the pipeline has not
// started), and returns the library's result code once it runs. It starts
// not running, as the real controller does when the tuning engine could not
// be brought up; setRunning(true) plays a started pipeline. Every call is
// recorded (applied or not), and what a running ISP was told is kept as its
// current settings, so that tests and tools can see what reached the ISP.
//
// The controller also allocates the shared capture buffer (capturebuffer.h)
// for the frame size it is made for.
//
// Threads: the setters run on whichever thread applies camera parameters;
// every member is guarded by one mutex.
#include <QMutex>

#include <array>
#include <cstdint>
#include <vector>

class AiqControl {
public:
    enum class Setter { ManualExp, Sharpness, Contrast, Gamma, Mirror };

    // One setter call as it was made. Only the fields of its setter mean
    // anything; applied is false when the ISP was not running.
    struct Call {
        Setter setter = Setter::ManualExp;
        float gain = 0.0f;   // ManualExp
        float time = 0.0f;   // ManualExp, seconds
        unsigned int level = 0;  // Sharpness, Contrast
        int gamma = 0;       // Gamma
        bool mirror = false; // Mirror: left-right
        bool flip = false;   // Mirror: up-down
        bool applied = false;
    };

    // The gamma attribute record of the tuning library: the setter reads it,
    // replaces one word and writes it back.
    static constexpr int kGammaWords = 16;
    static constexpr int kGammaValueWord = 6;  // the seventh 32-bit word

    // What the running ISP has been told so far.
    struct Settings {
        float gain = 1.0f;
        float exposureTime = 0.0f;  // seconds; 0 = automatic exposure
        unsigned int sharpness = 50;
        unsigned int contrast = 50;
        std::array<int32_t, kGammaWords> gammaAttributes{};
        bool mirror = false;
        bool flip = false;
    };

    // Allocates the shared capture buffer for frames of frameWidth x
    // frameHeight (NV12).
    explicit AiqControl(int frameWidth = 1920, int frameHeight = 1080);
    AiqControl(const AiqControl&) = delete;
    AiqControl& operator=(const AiqControl&) = delete;

    // True once the pipeline runs; every setter acts only then.
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

    // --- stand-in controls ----------------------------------------------------
    // Plays a started (true) or stopped (false) pipeline.
    void setRunning(bool running);
    // The result code a running ISP answers its setters with (0 = success).
    void setResultCode(int code);
    std::vector<Call> calls() const;
    void clearCalls();
    Settings settings() const;

private:
    // Records the call; true when the ISP runs and the call is to be applied.
    bool record(Call call);

    mutable QMutex m_mutex;
    bool m_running = false;
    int m_resultCode = 0;
    std::vector<Call> m_calls;
    Settings m_settings;
};

// The process-wide ISP controller; null until the hub has created it (never
// owned through this pointer).
extern AiqControl* gAiqControl;
