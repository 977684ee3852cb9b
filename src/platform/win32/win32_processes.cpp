// Processes on Windows: the toolhelp snapshot, CreateProcessW, system().
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <cstdlib>
#include <vector>

#include "platform/platform.h"

namespace {

// The process entry of the updater, a 32-bit program, is 556 bytes; a 64-bit
// one has 568, and a snapshot walked with an entry of the wrong size yields
// nothing. Only the 64-bit test build (cmake/mingw-w64-x86_64.cmake) has the
// other size.
constexpr DWORD processEntrySize = sizeof(PROCESSENTRY32W);
static_assert(sizeof(void*) != 4 || processEntrySize == 556,
              "the 32-bit process entry is 556 bytes");

class SnapshotHandle {
public:
    SnapshotHandle() : handle_(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)) {}
    ~SnapshotHandle() {
        if (valid()) CloseHandle(handle_);
    }
    SnapshotHandle(const SnapshotHandle&) = delete;
    SnapshotHandle& operator=(const SnapshotHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

namespace platform {

std::vector<std::wstring> runningProcessNames() {
    std::vector<std::wstring> names;
    SnapshotHandle snapshot;
    if (!snapshot.valid()) return names;
    PROCESSENTRY32W entry = {};
    entry.dwSize = processEntrySize;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        names.push_back(entry.szExeFile);
    }
    return names;
}

bool startDetached(const std::string& commandLine) {
    std::wstring wideCommand = widenPath(commandLine);
    std::vector<wchar_t> writableCommand(wideCommand.begin(), wideCommand.end());
    writableCommand.push_back(L'\0');
    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo = {};
    if (!CreateProcessW(nullptr, writableCommand.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startupInfo, &processInfo)) {
        return false;
    }
    // The child is watched through the file system, never through its handles.
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return true;
}

int runCommand(const std::string& commandLine) {
    return std::system(commandLine.c_str());
}

void sleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

}  // namespace platform
