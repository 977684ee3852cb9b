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

// Closes a kernel handle when it goes; null and INVALID_HANDLE_VALUE are left.
class HandleOwner {
public:
    explicit HandleOwner(HANDLE handle) : handle_(handle) {}
    ~HandleOwner() {
        if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// The job every process of the last detached child belongs to.
HANDLE lastJob = nullptr;

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

DetachedStart startDetached(const std::string& commandLine, const std::string& guardPath) {
    // The guard is opened without sharing and inherited: nobody else can open
    // it until the child and every process it starts have ended.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HandleOwner guard(CreateFileW(widenPath(guardPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                        0, &inheritable, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    const HandleOwner nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (guard.get() == INVALID_HANDLE_VALUE || nul.get() == INVALID_HANDLE_VALUE) {
        return DetachedStart::Failed;
    }
    // Only these two are inherited, not every inheritable handle of the updater.
    HANDLE inherited[] = {guard.get(), nul.get()};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> listBytes(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize)) return DetachedStart::Failed;
    const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  inherited, sizeof inherited, nullptr, nullptr);
    static const HandleOwner job(CreateJobObjectW(nullptr, nullptr));
    std::wstring wideCommand = widenPath(commandLine);
    std::vector<wchar_t> writableCommand(wideCommand.begin(), wideCommand.end());
    writableCommand.push_back(L'\0');
    STARTUPINFOEXW startupInfo = {};
    startupInfo.StartupInfo.cb = sizeof startupInfo;
    startupInfo.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startupInfo.StartupInfo.hStdInput = startupInfo.StartupInfo.hStdOutput =
        startupInfo.StartupInfo.hStdError = nul.get();
    startupInfo.lpAttributeList = list;
    PROCESS_INFORMATION processInfo = {};
    // Suspended until it is in the job, so that all it starts is in the job too.
    const BOOL started =
        listed && CreateProcessW(nullptr, writableCommand.data(), nullptr, nullptr, TRUE,
                                 CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                 &startupInfo.StartupInfo, &processInfo);
    DeleteProcThreadAttributeList(list);
    if (!started) return DetachedStart::Failed;
    const HandleOwner thread(processInfo.hThread), process(processInfo.hProcess);
    const bool inJob = job.get() && AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());
    lastJob = inJob ? job.get() : nullptr;
    return inJob ? DetachedStart::Started : DetachedStart::StartedUnreachable;
}

bool guardHeld(const std::string& guardPath) {
    const HandleOwner guard(CreateFileW(widenPath(guardPath).c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return guard.get() == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

void endDetached(const std::string& guardPath) {
    if (lastJob && guardHeld(guardPath)) TerminateJobObject(lastJob, 1);
}

int runCommand(const std::string& commandLine) {
    return std::system(commandLine.c_str());
}

void sleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

}  // namespace platform
