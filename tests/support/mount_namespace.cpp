#include "support/mount_namespace.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <string>

bool enterOwnMountNamespace() {
    const auto write = [](const char* path, const std::string& text) {
        return static_cast<bool>(std::ofstream(path) << text << std::flush);
    };
    if (::unshare(CLONE_NEWNS) != 0) {
        const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        write("/proc/self/setgroups", "deny");
        if (!write("/proc/self/uid_map", "0 " + uid + " 1\n") ||
            !write("/proc/self/gid_map", "0 " + gid + " 1\n"))
            return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
