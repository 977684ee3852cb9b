#include "install/path_wait.h"

#include "core/path_utils.h"
#include "platform/platform.h"

bool waitForPath(bool present, std::string path) {
    for (int polls = 0; polls < 240; ++polls) {
        platform::sleepMilliseconds(500);
        if (present ? fileExists(path) : !directoryExists(path)) return true;
    }
    return false;
}
