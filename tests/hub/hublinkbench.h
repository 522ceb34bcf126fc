#pragma once
// The hub's tests against the IO-module simulator in a private network
// (io/linkbench.h): the camera's device id is the bench's from the start of
// the program, since the work information takes it once, when first made.
#include "io/linkbench.h"

#define SKIP_WITHOUT_NETWORK(bench) \
    if (!(bench).ok())              \
    GTEST_SKIP() << "no private network: " << (bench).why().toStdString()

namespace hubtest {
inline const bool kLinkBenchDeviceId = qputenv("ORVALE_DEVICE_ID", iotest::kSelf.toLatin1());
}  // namespace hubtest
