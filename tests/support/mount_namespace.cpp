#include "support/mount_namespace.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

bool writeProcFile(const std::string& path, const std::string& content) {
    std::ofstream file(path);
    file << content;
    return static_cast<bool>(file.flush());
}

}  // namespace

bool enterOwnMountNamespace() {
    if (::unshare(CLONE_NEWNS) != 0) {
        const std::string uid = std::to_string(::getuid());
        const std::string gid = std::to_string(::getgid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        writeProcFile("/proc/self/setgroups", "deny");
        if (!writeProcFile("/proc/self/uid_map", "0 " + uid + " 1\n")) return false;
        if (!writeProcFile("/proc/self/gid_map", "0 " + gid + " 1\n")) return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
