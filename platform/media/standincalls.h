#pragma once
// The calls made into the ISP and media stand-ins (rkaiq.h, rkmedia.h), in
// order, and the failures a test asks some of them to give.
//
// Every stand-in function records its own name here on entry; a function
// told to fail answers the given result (a null handle for functions that
// return one) and does nothing else. Any thread may call in.
#include <string>
#include <vector>

namespace platform {

class StandInCalls {
public:
    // From now on every call of the function `name` (e.g.
    // "rk_aiq_uapi_sysctl_prepare", "RK_MPI_VENC_CreateChn") answers `result`
    // (non-zero) without doing its work.
    static void failCall(const std::string& name, int result = -1);
    // Every function works again.
    static void clearFailures();

    // The names of the calls made since the last clearTrace, in order
    // (calls made once per frame are left out).
    static std::vector<std::string> trace();
    static void clearTrace();

    // For the stand-ins: records the call (unless `traced` is false, as for
    // the calls made once per frame) and returns the result it is to fail
    // with, or 0 to go on.
    static int enter(const char* name, bool traced = true);
};

}  // namespace platform
