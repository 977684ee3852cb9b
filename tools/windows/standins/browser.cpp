// A process that the updater takes for a running browser once it is named
// Pelorin.exe: it only waits, until it is killed or ten minutes have passed.
// Under another name, `browser.exe FILE MARKER` plays a program that holds
// FILE open without sharing (a crash reporter, a virus scanner): it opens it,
// writes MARKER once it holds it, and waits.
#include <windows.h>

int main(int argc, char** argv) {
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argc == 3) {
        held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (held == INVALID_HANDLE_VALUE) return 1;
        CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    Sleep(600000);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return 0;
}
