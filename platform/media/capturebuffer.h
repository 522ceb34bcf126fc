#pragma once
// The shared capture buffer: the latest raw camera frame in YUV 4:2:0
// semi-planar layout (NV12: the full-size luma plane, then the half-size
// interleaved chroma plane), (int)(width x height x 1.5) bytes.
//
// The capture thread writes it whole under the frame-buffer mutex pMutex
// (foundation/foundationglobals.h); the hub copies it whole under the same
// mutex into the camera's image store. The buffer itself has no lock.
#include <cstdint>

// The buffer; null until allocateCaptureBuffer has run.
extern uint8_t* gImageThread;

namespace platform {

// (int)(width x height x 1.5), 0 for a size that is not positive.
int captureBufferLength(int width, int height);

// Allocates a zero-filled buffer for frames of width x height, points
// gImageThread at it and returns its length. A buffer of the same length is
// kept as it is; one of another length is replaced (callers hold pMutex or
// call before the capture thread starts). A size that is not positive frees
// the buffer and returns 0.
int allocateCaptureBuffer(int width, int height);

// Length of the current buffer (0 when none).
int captureBufferSize();

}  // namespace platform
