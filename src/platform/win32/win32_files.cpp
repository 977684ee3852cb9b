// Files, time and the temporary directory on Windows.
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/platform.h"

namespace platform {

const char pathSeparator = '\\';
const char* const updaterExecutableName = "PelorinAutoUpdate.exe";
const char* const browserExecutableName = "Pelorin.exe";
const char* const launcherScriptName = "BatchLauncher.vbs";
const char* const taskDefinitionFileName = "PelorinUpdateTask.xml";

std::string temporaryDirectory() {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    if (length == 0 || length > MAX_PATH) return std::string();
    return buffer;
}

FileStatus fileStatus(const std::string& path) {
    FileStatus result;
    struct _stat64i32 status;
    if (_stat64i32(path.c_str(), &status) == 0) {
        result.exists = true;
        result.isDirectory = (status.st_mode & _S_IFDIR) != 0;
        result.isRegularFile = (status.st_mode & _S_IFREG) != 0;
    }
    return result;
}

// The file system itself ignores letter case.
std::string pathIgnoringCase(const std::string& path) {
    return path;
}

bool freeDiskBytes(const std::string& directory, unsigned long long& bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

bool createDirectory(const std::string& path, bool& alreadyExists) {
    alreadyExists = false;
    if (_mkdir(path.c_str()) == 0) return true;
    alreadyExists = errno == EEXIST;
    return false;
}

bool flushToDisk(FILE* file) {
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExW(widenPath(from).c_str(), widenPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

FILE* openFile(const std::string& path, const char* mode) {
    FILE* file = nullptr;
    return fopen_s(&file, path.c_str(), mode) == 0 ? file : nullptr;
}

std::wstring widenPath(const std::string& path) {
    if (path.empty()) return std::wstring();
    const int length =
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &wide[0], length);
    return wide;
}

bool isTerminal(FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

FILE* openFileWide(const std::wstring& path, const char* mode) {
    return _wfopen(path.c_str(), widenPath(mode).c_str());
}

bool localTimeNow(std::tm& out) {
    const __time64_t now = _time64(nullptr);
    return _localtime64_s(&out, &now) == 0;
}

long long calendarSeconds() {
    return static_cast<long long>(_time64(nullptr));
}

}  // namespace platform
