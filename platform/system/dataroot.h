#pragma once
// Where the device's absolute paths ("/userdata/...", "/root/...") live.
// On the device the root is "/"; the simulated run and the tests point it at
// a scratch folder with ORVALE_DATA_ROOT (or setRoot). Relative paths
// ("./workspace/", "./camcfg.json") are left to the working directory.
#include <QString>

namespace platform {

class DataRoot {
public:
    // The root folder, always ending in "/".
    static QString root();
    static void setRoot(const QString& folder);

    // Maps an absolute device path under the root; a relative path is returned unchanged.
    static QString path(const QString& devicePath);

    // True when `candidate`, once cleaned, lies inside `folder` (or is it).
    // Used before touching any path that came from outside.
    static bool isInside(const QString& folder, const QString& candidate);
};

}  // namespace platform
