// Under 32-bit Wine a process that ends while one of its threads is still starting dies; GoogleTest
// starts one lazily (its registry's watcher), so this main starts it first and waits until it ran.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <atomic>

namespace {

// The threads that have attached: only then has Wine set them up.
std::atomic<DWORD> attachedThreads[64];
std::atomic<unsigned> attachedCount{0};

void NTAPI recordAttach(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_THREAD_ATTACH) return;
    const unsigned slot = attachedCount++;
    if (slot < 64) attachedThreads[slot] = GetCurrentThreadId();
}

bool attached(DWORD thread) {
    const unsigned count = attachedCount;
    for (unsigned slot = 0; slot < count && slot < 64; ++slot)
        if (attachedThreads[slot] == thread) return true;
    return count > 64;  // beyond what is recorded: taken as attached
}

// Whether every thread of this process but the calling one has attached.
bool noThreadStarting() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return true;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool done = true;
    for (BOOL more = Thread32First(snapshot, &entry); more && done;
         more = Thread32Next(snapshot, &entry))
        done = entry.th32OwnerProcessID != GetCurrentProcessId() ||
               entry.th32ThreadID == GetCurrentThreadId() || attached(entry.th32ThreadID);
    CloseHandle(snapshot);
    return done;
}

DWORD WINAPI doNothing(LPVOID) {
    return 0;
}

}  // namespace

// The loader calls the callbacks of .CRT$XL* for every thread that starts.
extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK pelorinRecordAttach = recordAttach;

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    { const testing::ScopedTrace startsTheWatcher(__FILE__, __LINE__, ""); }
    // Bounded: a thread that never attaches costs five seconds, not a hang.
    for (int waited = 0; !noThreadStarting() && waited < 5000; waited += 5) Sleep(5);
    return RUN_ALL_TESTS();
}

// The wait above leans on the callback: a thread that starts is seen.
TEST(TestProcess, StartedThreadsAreSeenAttaching) {
    const HANDLE thread = CreateThread(nullptr, 0, doNothing, nullptr, 0, nullptr);
    ASSERT_TRUE(thread);
    const DWORD id = GetThreadId(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(attached(id));
}
