// The install's file steps on POSIX: paths are bytes, rename(2) and link(2).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace platform {

fs::path nativePath(const std::string& path) {
    return fs::path(path);
}

std::string narrowPath(const fs::path& path) {
    return path.generic_string();
}

bool moveEntry(const fs::path& from, const fs::path& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool replaceKeeping(const fs::path& newFile, const fs::path& installed, const fs::path& kept) {
    // A second name for the installed file, then one rename over it: the name
    // never stands empty.
    ::unlink(kept.c_str());
    return ::link(installed.c_str(), kept.c_str()) == 0 &&
           std::rename(newFile.c_str(), installed.c_str()) == 0;
}

bool putOnDisk(const std::vector<fs::path>&, const fs::path& volumeFolder) {
    // One syncfs costs less than an fsync a file, and covers the folders too.
    const int folder = ::open(volumeFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    const bool synced = ::syncfs(folder) == 0;
    ::close(folder);
    return synced;
}

}  // namespace platform
