// The install's file steps on Windows: wide paths, MoveFileExW without its
// copy fallback, and FlushFileBuffers.
#include <windows.h>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace platform {

fs::path nativePath(const std::string& path) {
    return fs::path(widenPath(path));
}

std::string narrowPath(const fs::path& path) {
    const std::wstring wide = path.generic_wstring();
    if (wide.empty()) return std::string();
    BOOL lost = FALSE;
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr,
                                           0, nullptr, &lost);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, &narrow[0], length,
                        nullptr, &lost);
    return lost || length <= 0 ? std::string() : narrow;
}

bool moveEntry(const fs::path& from, const fs::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool replaceKeeping(const fs::path& newFile, const fs::path& installed, const fs::path& kept) {
    // A running program's file (the updater's own) can be renamed but cannot
    // lose its name to another file, nor a second name of it be removed: two
    // renames in a row, the first undone when the second fails.
    const DWORD replacing = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!MoveFileExW(installed.c_str(), kept.c_str(), replacing)) return false;
    if (MoveFileExW(newFile.c_str(), installed.c_str(), replacing)) return true;
    MoveFileExW(kept.c_str(), installed.c_str(), replacing);
    return false;
}

bool putOnDisk(const std::vector<fs::path>& files, const fs::path&) {
    bool all = true;
    for (const fs::path& file : files) {
        const HANDLE handle =
            CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            all = false;
            continue;
        }
        all = FlushFileBuffers(handle) && all;
        CloseHandle(handle);
    }
    return all;
}

}  // namespace platform
