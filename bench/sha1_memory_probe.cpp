// Runs one hashFileToHex and prints the hash text and this process's peak
// resident memory, for sha1_bench. It links no more than the updater's own
// code (libcrypto alone would add over a megabyte of relocated pages), and it
// reads its own high-water mark because a forked child's ru_maxrss also counts
// the pages it shared with its parent before exec. Without a file it only
// starts and stops, which gives the figure of the bare program.
//
// sha1_memory_probe [FILE]   prints "DIGEST PEAK_KIB" or "PEAK_KIB"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "transfer/file_hash.h"

namespace {

long peakResidentKiB() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    long peak = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0) peak = std::strtol(line + 6, nullptr, 10);
    std::fclose(status);
    return peak;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("%ld\n", peakResidentKiB());
        return 0;
    }
    const std::string digest = hashFileToHex(argv[1]);
    std::printf("%s %ld\n", digest.c_str(), peakResidentKiB());
    return digest.empty() ? 1 : 0;
}
