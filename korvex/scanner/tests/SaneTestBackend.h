#pragma once
// SANE unloads its backends on exit; tests keep the virtual test device's
// library loaded so that the leak checker can name it (the device's own
// allocations, left behind when a transfer is cancelled or fails, are
// suppressed by name).
#include <dlfcn.h>

#include <string>

namespace korvex::testing {

inline void KeepTestBackendLoaded() {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/sane", "/usr/lib/sane", "/usr/lib64/sane"}) {
        const std::string path = std::string(dir) + "/libsane-test.so.1";
        if (::dlopen(path.c_str(), RTLD_NOW | RTLD_NODELETE)) return;
    }
}

}  // namespace korvex::testing
