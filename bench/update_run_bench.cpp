// One update run, phase by phase, beside the standard tools. A release 1.1
// with a payload of incompressible noise (100 MiB by default) is published on
// a real HTTPS server on 127.0.0.1; the updater's phases are called one by one
// in this process against a laid-out installation (manifest fetch, package
// download, validation, the administrative unpack and the copy as the
// installer runs them, without its 500 ms polling), and in the same rounds
// curl, sha1sum, msiextract and cp do the same work. Rounds are interleaved,
// their order swapped each round; medians are printed with their ratio, and
// for the unpack and the copy also beside the tools doing all that the
// updater's commands do. Last, the built PelorinAutoUpdate makes a whole run
// as a child process and its peak memory is read.
//
// update_run_bench [--rounds N] [--megabytes M]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_figures.h"
#include "core/path_utils.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "platform/platform.h"
#include "support/installation.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"
#include "transfer/package_download.h"
#include "update/manifest.h"
#include "update/package_validation.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// The last two are tool figures only: the unpack with the package's check
// and copy, the copy with the staging tree's removal.
enum Phase { Manifest, Download, Hash, Unpack, Copy, PhaseCount, UnpackAll = PhaseCount, CopyAll };
const char* const phaseNames[PhaseCount] = {"manifest fetch", "package download",
                                            "hash (validation)", "unpack", "copy"};
const char* const toolNames[PhaseCount] = {"curl", "curl", "sha1sum", "msiextract", "cp -R"};

struct Samples {
    std::vector<double> updater[PhaseCount];
    std::vector<double> tool[CopyAll + 1];
};

// What the server offers and how the tools reach it.
struct Release {
    std::string manifestUrl, packageUrl, hash, caBundle;
    std::uintmax_t payloadBytes = 0;
};

// Runs a program found on PATH to its end, without a shell; its standard
// output goes to `output` when given, else to /dev/null. True on exit 0.
bool runTool(const std::vector<std::string>& arguments, std::string* output = nullptr) {
    const std::string sink =
        output ? (fs::temp_directory_path() / "update-run-bench.out").string() : "/dev/null";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, sink.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || ::waitpid(child, &status, 0) != child) return false;
    if (output) {
        *output = readFile(sink);
        fs::remove(sink);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool writeNoise(const std::string& path, std::uintmax_t bytes) {
    std::ifstream noise("/dev/urandom", std::ios::binary);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> chunk(1 << 20);
    for (std::uintmax_t done = 0; done < bytes && noise && out; done += chunk.size()) {
        noise.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        out.write(chunk.data(), noise.gcount());
    }
    return noise && out.flush();
}

// Builds the release with its payload into the server's root and publishes
// its manifest, naming the server's own list so that no other host is asked.
Release publish(const TestServer& server, const std::string& work, std::uintmax_t payloadBytes) {
    const std::string payload = work + "/payload.bin";
    const std::string package = server.rootDir() + "/Pelorin-1.1.msi";
    if (!writeNoise(payload, payloadBytes) ||
        !runTool({"sh",
                  std::string(PELORIN_SOURCE_DIR) + "/tools/sample_release/make_sample_msi.sh",
                  "1.1", package, payload}))
        throw std::runtime_error("cannot build the release package");
    fs::remove(payload);
    Release release{server.url("/Win/UpdateWin.xml"), server.url("/Pelorin-1.1.msi"),
                    hashFileToHex(package), server.caBundlePath(), payloadBytes};
    auto element = [](const std::string& name, const std::string& text) {
        return "<" + name + ">" + text + "</" + name + ">\n";
    };
    server.putFile("/Win/UpdateWin.xml",
                   "<Update>\n" + element("AppId", "com.halvornesys.pelorin") +
                       element("Predicate", "Pelorin.Version &lt; 1.1") +
                       element("Codebase", release.packageUrl) + element("Hash", release.hash) +
                       element("Listversion", "1.0") +
                       element("Listfile", server.url("/ServerList.lst")) + "</Update>\n");
    return release;
}

// Pelorin 1.0 as installed, with the test CA as its bundle and the bench's
// server as its only update server.
void layOut(Installation& installation, const TestServer& server) {
    installation.layOutComplete("1.0");
    fs::copy_file(server.caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    installation.writeFile(installation.dataDir + "/ServerList.lst",
                           "Version = 1.0\n" + server.url("/") + "\n");
}

bool payloadInstalled(const std::string& installRoot, const Release& release) {
    std::error_code error;
    return fs::file_size(installRoot + "/Application/resources/payload.bin", error) ==
           release.payloadBytes;
}

// The updater's phases as runUpdate and installPackage run them, minus the
// polling waits: the copy's end is watched every 200 us instead of 500 ms.
bool updaterRound(UpdaterContext& context, const Release& release, double* times) {
    auto start = Clock::now();
    bool ok = fetchManifest(context, release.manifestUrl, true);
    times[Manifest] = millisecondsSince(start);
    // The first copy installs 1.1; later rounds go on as if it had not.
    ok = ok && (context.updateFound || evaluateManifest(context));
    start = Clock::now();
    ok = ok && downloadPackage(context, context.packageUrl, readManifestValue(context, "Hash"));
    times[Download] = millisecondsSince(start);
    start = Clock::now();
    ok = ok && validatePackage(context);
    times[Hash] = millisecondsSince(start);

    const std::string stagingCopy = stagedPackagePath(context.updateDir);
    std::remove(stagingCopy.c_str());
    const std::string package = downloadedPackagePath(context.installDir);
    start = Clock::now();
    ok = ok &&
         platform::runCommand(platform::commands.adminUnpack(package, context.updateDir)) == 0 &&
         fileExists(stagingCopy);
    times[Unpack] = millisecondsSince(start);

    const std::string stagingTree = platform::pathIgnoringCase(stagingTreePath(context.updateDir));
    const std::string unpackedTree = unpackedTreePath(stagingTree);
    start = Clock::now();
    ok = ok && platform::startDetached(
                   platform::commands.copyAndClean(unpackedTree, context.rootDir, stagingTree),
                   joinPath(context.updateDir, "copy.guard")) != platform::DetachedStart::Failed;
    while (ok && directoryExists(stagingTree)) {
        if (millisecondsSince(start) > 120000) ok = false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    times[Copy] = millisecondsSince(start);
    return ok && payloadInstalled(context.rootDir, release);
}

bool toolRound(const Release& release, const std::string& dir, double* times) {
    const std::string manifest = dir + "/UpdateWin.xml", package = dir + "/Pelorin.msi";
    const std::string staging = dir + "/staging", installRoot = dir + "/install";
    fs::create_directories(installRoot);
    auto start = Clock::now();
    bool ok =
        runTool({"curl", "-s", "--cacert", release.caBundle, "-o", manifest, release.manifestUrl});
    times[Manifest] = millisecondsSince(start);
    start = Clock::now();
    ok = ok &&
         runTool({"curl", "-s", "--cacert", release.caBundle, "-o", package, release.packageUrl});
    times[Download] = millisecondsSince(start);
    std::string digest;
    start = Clock::now();
    ok = ok && runTool({"sha1sum", package}, &digest);
    times[Hash] = millisecondsSince(start);
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ok = ok && digest.compare(0, release.hash.size(), release.hash) == 0;
    start = Clock::now();
    ok = ok && runTool({"msiinfo", "tables", package});
    const double check = millisecondsSince(start);
    start = Clock::now();
    ok = ok && runTool({"msiextract", "-C", staging, package});
    times[Unpack] = millisecondsSince(start);
    start = Clock::now();
    ok = ok && runTool({"cp", package, staging + "/Pelorin.msi"});
    times[UnpackAll] = check + times[Unpack] + millisecondsSince(start);
    start = Clock::now();
    ok = ok && runTool({"cp", "-R", staging + "/Program Files/Halvorne/Pelorin/.", installRoot});
    times[Copy] = millisecondsSince(start);
    start = Clock::now();
    ok = ok && runTool({"rm", "-rf", staging + "/Program Files"});
    times[CopyAll] = times[Copy] + millisecondsSince(start);
    fs::remove_all(staging);
    return ok && payloadInstalled(installRoot, release);
}

long highWaterKiB(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// A whole run of the built updater against `installation`. wait4's ru_maxrss
// is no measure of the updater: Linux counts in it the memory a child leaves
// at exec (for a posix_spawn child, this benchmark's own pages, which it
// shares until then) and the children the updater waited for (the unpack's
// shell and tools). So the updater's own high-water mark is read from /proc
// while it runs.
void measureWholeRun(Installation& installation) {
    const std::string executable = updaterCopyPath();
    installation.useInThisProcess();
    char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
    pid_t child = -1;
    const auto start = Clock::now();
    if (posix_spawn(&child, executable.c_str(), nullptr, nullptr, argv, environ) != 0) {
        std::printf("\nWhole run: the updater did not start\n");
        return;
    }
    int status = 0;
    rusage usage{};
    long ownPeakKiB = -1;
    while (::wait4(child, &status, WNOHANG, &usage) == 0) {
        // A process under the browser's name would hold the run for ever.
        if (millisecondsSince(start) > 300000) ::kill(child, SIGKILL);
        ownPeakKiB = std::max(ownPeakKiB, highWaterKiB(child));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double seconds = millisecondsSince(start) / 1000;
    const std::string log = readFile(installation.logPath());
    const bool updated =
        log.find("Pelorin successfully updated to version 1.1") != std::string::npos;
    std::printf("\nWhole run of PelorinAutoUpdate (%.1f s, the 500 ms polls included): %s\n",
                seconds, updated ? "updated to 1.1" : "NOT updated, its log follows");
    if (!updated) std::printf("%s", log.c_str());
    std::printf(
        "  peak memory of the updater itself (VmHWM):            %6.2f MiB (goal < 16 MiB)\n",
        ownPeakKiB / 1024.0);
    std::printf("  wait4 ru_maxrss (with the children it waited for):    %6.2f MiB\n",
                usage.ru_maxrss / 1024.0);
}

void printTable(const Samples& samples, int rounds, std::uintmax_t payloadBytes) {
    std::printf(
        "Update run of a %.0f MiB release over loopback, medians of %d interleaved rounds\n\n",
        payloadBytes / 1048576.0, rounds);
    std::printf("%-18s %12s  %-11s %10s  %7s\n", "phase", "updater ms", "tool", "tool ms", "ratio");
    double worst = 0;
    for (int phase = 0; phase < PhaseCount; ++phase) {
        const double updater = median(samples.updater[phase]);
        const double tool = median(samples.tool[phase]);
        worst = std::max(worst, updater / tool);
        std::printf("%-18s %12.1f  %-11s %10.1f  %6.2fx%s\n", phaseNames[phase], updater,
                    toolNames[phase], tool, updater / tool, updater / tool > 1.1 ? "  > 1.1" : "");
    }
    std::printf("\nGoal: no phase slower than 1.1x its tool; slowest ratio %.2fx\n", worst);
    std::printf("\nThe same work as the updater's commands, by the tools one after another:\n");
    const char* const allNames[] = {"msiinfo tables + msiextract + cp of the package",
                                    "cp -R + rm -rf of the staging tree"};
    for (int phase : {Unpack, Copy}) {
        const double updater = median(samples.updater[phase]);
        const double tool = median(samples.tool[phase + UnpackAll - Unpack]);
        std::printf("%-18s %12.1f  %-48s %8.1f  %5.2fx\n", phaseNames[phase], updater,
                    allNames[phase - Unpack], tool, updater / tool);
    }
}

int runBench(int rounds, std::uintmax_t payloadBytes) {
    // Every directory is made before TMPDIR points at the in-process
    // installation, so that each is removed on its own.
    TestServer server;
    TempDir work;
    Installation benched, wholeRun;
    updaterCopyPath();
    const Release release = publish(server, work.path(), payloadBytes);
    layOut(benched, server);
    layOut(wholeRun, server);
    benched.useInThisProcess();

    Samples samples;
    {
        UpdaterContext context;
        if (context.state == LogLevel::Fatal) {
            std::fprintf(stderr, "the updater context failed:\n%s",
                         readFile(benched.logPath()).c_str());
            return 1;
        }
        for (int round = 0; round < rounds; ++round) {
            double updaterTimes[PhaseCount], toolTimes[CopyAll + 1];
            const std::string toolDir = work.path() + "/tools";
            const bool updaterFirst = round % 2 == 0;
            bool ok = !updaterFirst || updaterRound(context, release, updaterTimes);
            ok = ok && toolRound(release, toolDir, toolTimes);
            ok = ok && (updaterFirst || updaterRound(context, release, updaterTimes));
            if (!ok) {
                if (context.logStream) context.logStream->flush();
                std::fprintf(stderr, "round %d failed; the updater's log:\n%s", round + 1,
                             readFile(benched.logPath()).c_str());
                return 1;
            }
            for (int phase = 0; phase < PhaseCount; ++phase)
                samples.updater[phase].push_back(updaterTimes[phase]);
            for (int phase = 0; phase <= CopyAll; ++phase)
                samples.tool[phase].push_back(toolTimes[phase]);
        }
    }
    printTable(samples, rounds, payloadBytes);
    measureWholeRun(wholeRun);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    long megabytes = 100;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(3, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--megabytes") == 0)
            megabytes = std::max(1L, std::atol(argv[i + 1]));
    }
    try {
        return runBench(rounds, static_cast<std::uintmax_t>(megabytes) << 20);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "update_run_bench: %s\n", failure.what());
        return 1;
    }
}
