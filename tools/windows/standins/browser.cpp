// A process that the updater takes for a running browser once it is named
// Pelorin.exe: it only waits, until it is killed or ten minutes have passed.
#include <windows.h>

int main() {
    Sleep(600000);
    return 0;
}
