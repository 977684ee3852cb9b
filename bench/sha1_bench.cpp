// File hashing speed and memory. Hashes a 1 GiB file held in the page cache
// with hashFileToHex on each compression engine, with `openssl sha1` and with
// `sha1sum`, and times OpenSSL's in-memory SHA-1 for reference. Rounds are
// interleaved and the median is reported, both by wall clock and by CPU time
// (the machine is shared, so CPU time is the steadier figure). Last, the peak
// resident memory of sha1_memory_probe running one hashFileToHex.
//
// sha1_bench [--rounds N] [--dir DIRECTORY] [--keep]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bench_figures.h"
#include "transfer/file_hash.h"
#include "transfer/sha1_compress.h"
#include "transfer/sha1_hasher.h"

#ifdef PELORIN_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kFileSize = uint64_t{1} << 30;
constexpr size_t kChunkSize = size_t{1} << 20;

struct Timing {
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

// What one run of a method gives: its time and the digest it printed (empty
// where there is no file digest to compare).
struct Outcome {
    Timing timing;
    std::string digest;
};

struct ChildResult {
    std::string output;
    double cpuSeconds = 0;
    bool succeeded = false;
};

double processCpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string upperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Runs a program to its end with its standard output captured; the CPU time
// is that child's own, as wait4 reports it.
ChildResult runChild(const std::vector<std::string>& arguments) {
    ChildResult result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return result;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    if (child < 0) {
        close(pipeEnds[0]);
        return result;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return result;
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    result.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// Fills `buffer` with reproducible noise (xorshift64), so no layer can
// shortcut runs of zeros.
void fillNoise(std::vector<unsigned char>& buffer, uint64_t& state) {
    for (size_t i = 0; i + 8 <= buffer.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(&buffer[i], &state, 8);
    }
}

bool makeTestFile(const fs::path& path) {
    std::error_code error;
    if (fs::is_regular_file(path, error) && fs::file_size(path, error) == kFileSize) return true;
    FILE* out = std::fopen(path.string().c_str(), "wb");
    if (!out) return false;
    std::vector<unsigned char> chunk(kChunkSize);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    bool written = true;
    for (uint64_t done = 0; done < kFileSize && written; done += kChunkSize) {
        fillNoise(chunk, state);
        written = std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
    }
    return std::fclose(out) == 0 && written;
}

Outcome timeInProcess(const std::function<std::string()>& work) {
    const double wallStart = wallSeconds();
    const double cpuStart = processCpuSeconds();
    Outcome outcome;
    outcome.digest = work();
    outcome.timing.cpuSeconds = processCpuSeconds() - cpuStart;
    outcome.timing.wallSeconds = wallSeconds() - wallStart;
    return outcome;
}

// Runs a command-line tool on the file; `lastWord` says where its output puts
// the digest: last (openssl) or first (sha1sum).
Outcome timeTool(const std::vector<std::string>& command, bool lastWord) {
    const double wallStart = wallSeconds();
    const ChildResult child = runChild(command);
    Outcome outcome;
    outcome.timing.wallSeconds = wallSeconds() - wallStart;
    outcome.timing.cpuSeconds = child.cpuSeconds;
    if (!child.succeeded) return outcome;
    std::string text = child.output;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    const size_t space = lastWord ? text.find_last_of(' ') : text.find(' ');
    outcome.digest = upperCase(lastWord ? text.substr(space == std::string::npos ? 0 : space + 1)
                                        : text.substr(0, space));
    return outcome;
}

std::string hashWithEngine(Sha1Engine engine, const std::string& path) {
    sha1UseEngine(engine);
    return hashFileToHex(path);
}

// The same bytes over and over from a cache-sized buffer, as `openssl speed` does.
std::string hashInMemory(Sha1Engine engine, const std::vector<unsigned char>& buffer) {
    sha1UseEngine(engine);
    Sha1Hasher hasher;
    for (uint64_t done = 0; done < kFileSize; done += buffer.size())
        hasher.append(buffer.data(), static_cast<uint32_t>(buffer.size()));
    hasher.finalize();
    return std::string();
}

#ifdef PELORIN_BENCH_OPENSSL
std::string openSslInMemory(const std::vector<unsigned char>& buffer) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha1(), nullptr);
    for (uint64_t done = 0; done < kFileSize; done += buffer.size())
        EVP_DigestUpdate(context, buffer.data(), buffer.size());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    return std::string();
}
#endif

struct Method {
    Method(std::string methodName, std::function<Outcome()> runOnce)
        : name(std::move(methodName)), run(std::move(runOnce)) {}
    std::string name;
    std::function<Outcome()> run;
    std::vector<Timing> timings;
    std::string firstDigest;
    bool digestsDiffer = false;
};

// Median throughput in MB/s (10^6 bytes); `byCpu` picks the CPU-time figure.
double throughput(const Method& method, bool byCpu) {
    std::vector<double> rates;
    for (const Timing& timing : method.timings) {
        const double seconds = byCpu ? timing.cpuSeconds : timing.wallSeconds;
        if (seconds > 0) rates.push_back(static_cast<double>(kFileSize) / seconds / 1e6);
    }
    return rates.empty() ? 0 : median(rates);
}

const Method* findMethod(const std::vector<Method>& methods, const std::string& name) {
    for (const Method& method : methods)
        if (method.name == name) return &method;
    return nullptr;
}

void printRatio(const std::vector<Method>& methods, const char* label, const std::string& top,
                const std::string& bottom, double goal) {
    const Method* a = findMethod(methods, top);
    const Method* b = findMethod(methods, bottom);
    if (!a || !b || throughput(*b, false) <= 0 || throughput(*b, true) <= 0) {
        std::printf("  %-44s n/a\n", label);
        return;
    }
    const double wall = throughput(*a, false) / throughput(*b, false);
    const double cpu = throughput(*a, true) / throughput(*b, true);
    std::printf("  %-44s wall %5.2f  cpu %5.2f  (goal >= %.2f)\n", label, wall, cpu, goal);
}

// The peak resident memory that sha1_memory_probe (built beside this program)
// reports for itself, the last word of its output.
double probePeakKiB(const std::vector<std::string>& command) {
    const ChildResult child = runChild(command);
    if (!child.succeeded) return -1;
    const size_t space = child.output.find_last_of(' ');
    return std::atof(child.output.c_str() + (space == std::string::npos ? 0 : space + 1));
}

// The probe running one hashFileToHex, beside the probe started without work.
void reportPeakMemory(const std::string& probe, const std::string& file) {
    std::vector<double> hashing, idle;
    for (int i = 0; i < 3; ++i) {
        hashing.push_back(probePeakKiB({probe, file}));
        idle.push_back(probePeakKiB({probe}));
    }
    const double hashingKiB = median(hashing), idleKiB = median(idle);
    if (hashingKiB <= 0 || idleKiB <= 0) {
        std::printf("\nPeak resident memory: %s did not run\n", probe.c_str());
        return;
    }
    std::printf("\nPeak resident memory (VmHWM, median of 3 runs of sha1_memory_probe)\n");
    std::printf(
        "  running hashFileToHex on the file           %7.0f KiB (%.2f MiB, goal < 4 MiB)\n",
        hashingKiB, hashingKiB / 1024);
    std::printf("  started and stopped only                    %7.0f KiB\n", idleKiB);
    std::printf("  added by hashing                            %7.0f KiB\n", hashingKiB - idleKiB);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    fs::path directory = fs::temp_directory_path() / "pelorin-sha1-bench";
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            directory = argv[++i];
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
    }

    std::error_code error;
    const bool createdDirectory = fs::create_directories(directory, error);
    const fs::path filePath = directory / "sha1-bench-1GiB.bin";
    const std::string file = filePath.string();
    std::printf("Preparing %s ...\n", file.c_str());
    if (!makeTestFile(filePath)) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    const std::string probe =
        (fs::read_symlink("/proc/self/exe", error).parent_path() / "sha1_memory_probe").string();

    std::vector<unsigned char> memoryBuffer(kChunkSize);
    uint64_t noiseState = 0x2545F4914F6CDD1Dull;
    fillNoise(memoryBuffer, noiseState);

    const bool haveShaExtensions = sha1EngineAvailable(Sha1Engine::ShaExtensions);
    const Sha1Engine defaultEngine = sha1ActiveEngine();
    // Each in-process method is timed around one call of `work`.
    const auto inProcess = [](std::function<std::string()> work) {
        return [work] { return timeInProcess(work); };
    };
    std::vector<Method> methods;
    if (haveShaExtensions)
        methods.emplace_back("hashFileToHex, SHA extensions", inProcess([&] {
                                 return hashWithEngine(Sha1Engine::ShaExtensions, file);
                             }));
    methods.emplace_back("hashFileToHex, portable",
                         inProcess([&] { return hashWithEngine(Sha1Engine::Portable, file); }));
    methods.emplace_back("openssl sha1 FILE", [&] {
        return timeTool({"openssl", "sha1", file}, true);
    });
    methods.emplace_back("sha1sum FILE", [&] { return timeTool({"sha1sum", file}, false); });
#ifdef PELORIN_BENCH_OPENSSL
    methods.emplace_back("OpenSSL EVP SHA-1, in memory",
                         inProcess([&] { return openSslInMemory(memoryBuffer); }));
#endif
    if (haveShaExtensions)
        methods.emplace_back("Sha1Hasher, SHA extensions, in memory", inProcess([&] {
                                 return hashInMemory(Sha1Engine::ShaExtensions, memoryBuffer);
                             }));
    methods.emplace_back("Sha1Hasher, portable, in memory", inProcess([&] {
                             return hashInMemory(Sha1Engine::Portable, memoryBuffer);
                         }));

    // A first pass that is not counted pulls the file into the page cache.
    hashWithEngine(defaultEngine, file);
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d of %d\n", round + 1, rounds);
        std::fflush(stdout);
        for (size_t i = 0; i < methods.size(); ++i) {
            Method& method = methods[(i + static_cast<size_t>(round)) % methods.size()];
            const Outcome outcome = method.run();
            method.timings.push_back(outcome.timing);
            if (method.firstDigest.empty()) method.firstDigest = outcome.digest;
            if (outcome.digest != method.firstDigest) method.digestsDiffer = true;
        }
    }
    sha1UseEngine(defaultEngine);

    std::printf(
        "\nSHA-1 of a 1 GiB file in the page cache, median of %d rounds (MB = 10^6 bytes)\n",
        rounds);
    std::printf("  %-44s %10s %10s  %s\n", "method", "wall MB/s", "cpu MB/s", "digest");
    for (const Method& method : methods)
        std::printf("  %-44s %10.0f %10.0f  %s%s\n", method.name.c_str(), throughput(method, false),
                    throughput(method, true), method.firstDigest.c_str(),
                    method.digestsDiffer ? " (differs between rounds!)" : "");

    std::string reference;
    bool agree = true;
    for (const Method& method : methods) {
        if (method.firstDigest.empty()) continue;
        if (reference.empty()) reference = method.firstDigest;
        agree = agree && method.firstDigest == reference && !method.digestsDiffer;
    }
    std::printf("  file digests %s\n", agree ? "agree" : "DISAGREE");

    std::printf("\nRatios of median throughput\n");
    printRatio(methods, "SHA extensions vs openssl sha1 FILE", "hashFileToHex, SHA extensions",
               "openssl sha1 FILE", 1.3);
    printRatio(methods, "SHA extensions vs OpenSSL in memory", "hashFileToHex, SHA extensions",
               "OpenSSL EVP SHA-1, in memory", 0.9);
    printRatio(methods, "portable vs sha1sum FILE", "hashFileToHex, portable", "sha1sum FILE", 0.9);

    reportPeakMemory(probe, file);

    if (!keep) {
        fs::remove(filePath, error);
        if (createdDirectory) fs::remove(directory, error);
    }
    return 0;
}
