// Files, time and the temporary directory on Windows.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/platform.h"
#include "platform/win32/windows_commands.h"

namespace platform {

const char pathSeparator = '\\';
const char* const updaterExecutableName = "PelorinAutoUpdate.exe";
const char* const browserExecutableName = "Pelorin.exe";
const char* const launcherScriptName = "BatchLauncher.vbs";
const char* const taskDefinitionFileName = "PelorinUpdateTask.xml";
constexpr const CommandBuilders& commands = windowsCommands;

std::string temporaryDirectory() {
    // Where GetTempPathA gives SYSTEM C:\Windows\Temp, in which every user may
    // create files, GetTempPath2A gives it a folder only SYSTEM and
    // administrators may write to; every other account gets the same from
    // both. Older systems lack it, and headers may not declare it.
    using TempPathFunction = DWORD(WINAPI*)(DWORD, LPSTR);
    TempPathFunction tempPath = GetTempPathA;
    if (const HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
        if (const FARPROC found = GetProcAddress(kernel, "GetTempPath2A")) {
            tempPath = reinterpret_cast<TempPathFunction>(reinterpret_cast<void (*)()>(found));
        }
    }
    char buffer[MAX_PATH] = {};
    const DWORD length = tempPath(MAX_PATH, buffer);
    if (length == 0 || length > MAX_PATH) return std::string();
    return buffer;
}

FILE* openLogFile(const std::string& path) {
    // Not through a link or junction laid at the name, and not a file with a
    // second name elsewhere: where the system lacks GetTempPath2A, SYSTEM's
    // temporary folder is one every user may lay such names in first. Shared
    // with every other reader and writer, and emptied only once known plain.
    const HANDLE handle = CreateFileA(
        path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION information;
    const bool plain = GetFileInformationByHandle(handle, &information) &&
                       (information.dwFileAttributes &
                        (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
                       information.nNumberOfLinks == 1 && GetFileType(handle) == FILE_TYPE_DISK &&
                       SetEndOfFile(handle);
    // Text mode: every line end reaches the file as CR LF.
    const int descriptor =
        plain ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT) : -1;
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, "w");
    if (!stream) _close(descriptor);
    return stream;
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
