#include "platform/media/capturebuffer.h"

#include <memory>

uint8_t* gImageThread = nullptr;

namespace {

// Owner of the buffer gImageThread points at; lives until the process ends.
std::unique_ptr<uint8_t[]>& storage()
{
    static std::unique_ptr<uint8_t[]> buffer;
    return buffer;
}

int gLength = 0;

}  // namespace

namespace platform {

int captureBufferLength(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const double bytes = double(width) * double(height) * 1.5;
    if (bytes > double(INT32_MAX))
        return 0;
    return int(bytes);
}

int allocateCaptureBuffer(int width, int height)
{
    const int length = captureBufferLength(width, height);
    if (length == gLength && gImageThread)
        return length;
    if (length == 0) {
        gImageThread = nullptr;
        storage().reset();
        gLength = 0;
        return 0;
    }
    storage().reset(new uint8_t[size_t(length)]());
    gImageThread = storage().get();
    gLength = length;
    return length;
}

int captureBufferSize()
{
    return gLength;
}

}  // namespace platform
