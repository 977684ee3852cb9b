// pelorin-mirrors over many mirrors: the built tool checks N mirrors (1,000
// by default), paths of S HTTPS servers on 127.0.0.1 (2 by default: each is
// one Python process, and one alone is held to one core), first through
// libcurl's multi interface (--parallel, 16 by default) and then one mirror
// after another (--parallel 1). Manifests only: every mirror names the same
// package, whose headers are asked for once.
//
// Loopback answers at once, so the one-after-another check costs little more
// than the server's work; the second pair of runs gives every response the
// delay of a server further away (the test server's delay_ms before the
// headers and again before the body).
//
// mirrors_bench [--mirrors N] [--servers S] [--parallel P] [--delay-ms D]
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "publish/manifest_writer.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace {

struct Settings {
    int mirrors = 1000;
    int servers = 2;
    int parallel = 16;
    int delayMs = 25;
};

std::string mirrorPath(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "/m%04d/", index);
    return name;
}

std::string lastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (!line.empty()) last = line;
    }
    return last;
}

struct Timing {
    double seconds = 0;     // wall time
    double cpuSeconds = 0;  // the tool's own user and system time
};

double childCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One run of the tool; throws when it does not find every mirror current. The
// servers are children too, but count only once reaped, after the runs.
Timing timeCheck(const std::string& mainUrl, const std::string& listPath, int parallel, int mirrors,
                 const std::string& outputPath) {
    const std::string command = std::string(PELORIN_MIRRORS_EXE) + " --list " + listPath +
                                " --main " + mainUrl + " --ca-bundle " +
                                TestServer::caBundlePath() + " --parallel " +
                                std::to_string(parallel) + " >" + outputPath + " 2>&1";
    const double cpuBefore = childCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    Timing timing;
    timing.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timing.cpuSeconds = childCpuSeconds() - cpuBefore;
    const std::string summary = lastLine(outputPath);
    const std::string expected =
        std::to_string(mirrors) + " mirrors: " + std::to_string(mirrors) + " current";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || summary.rfind(expected, 0) != 0) {
        throw std::runtime_error("the check did not find every mirror current: " + summary);
    }
    return timing;
}

void printRow(const char* label, const Timing& parallel, const Timing& sequential) {
    std::printf("%-28s %9.2f s %12.2f s %9.1fx %10.2f s\n", label, parallel.seconds,
                sequential.seconds, sequential.seconds / parallel.seconds, parallel.cpuSeconds);
}

using Servers = std::vector<std::unique_ptr<TestServer>>;

// The main server's manifest and its package on the first server, mirror i
// on server i mod S; the list names every mirror.
std::string publish(const Servers& servers, int mirrors, const std::string& listPath) {
    const TestServer& main = *servers[0];
    main.putFile("/Pelorin-1.1.msi", std::string(1 << 20, 'p'));
    const std::string manifest =
        manifestText({"1.1", main.url("/Pelorin-1.1.msi"),
                      "0123456789ABCDEF0123456789ABCDEF01234567", "", "", ""});
    main.putFile("/Win/UpdateWin.xml", manifest);
    std::ostringstream list;
    list << "Version = 1.1\n";
    for (int i = 0; i < mirrors; ++i) {
        const TestServer& server = *servers[i % servers.size()];
        server.putFile(mirrorPath(i) + "Win/UpdateWin.xml", manifest);
        list << server.url(mirrorPath(i)) << "\n";
    }
    std::ofstream(listPath) << list.str();
    return main.url("/Win/UpdateWin.xml");
}

void delayEveryAnswer(Servers& servers, int mirrors, int delayMs) {
    const std::string delay = "{\"delay_ms\": " + std::to_string(delayMs) + "}";
    servers[0]->setRule("/Win/UpdateWin.xml", delay);
    servers[0]->setRule("/Pelorin-1.1.msi", delay);
    for (int i = 0; i < mirrors; ++i) {
        servers[i % servers.size()]->setRule(mirrorPath(i) + "Win/UpdateWin.xml", delay);
    }
}

int runBench(const Settings& settings) {
    Servers servers;
    for (int i = 0; i < settings.servers; ++i) servers.push_back(std::make_unique<TestServer>());
    TempDir dir;
    const std::string listPath = dir.path() + "/ServerList.lst";
    const std::string mainUrl = publish(servers, settings.mirrors, listPath);
    const std::string output = dir.path() + "/report.txt";

    std::printf("pelorin-mirrors: %d mirrors on %d HTTPS server%s on 127.0.0.1, manifests only\n\n",
                settings.mirrors, settings.servers, settings.servers == 1 ? "" : "s");
    std::printf("%-28s %11s %14s %10s %12s\n", "",
                ("parallel " + std::to_string(settings.parallel)).c_str(), "one by one", "speed-up",
                "tool CPU");
    const Timing loopbackParallel =
        timeCheck(mainUrl, listPath, settings.parallel, settings.mirrors, output);
    const Timing loopbackSequential = timeCheck(mainUrl, listPath, 1, settings.mirrors, output);
    printRow("loopback", loopbackParallel, loopbackSequential);

    delayEveryAnswer(servers, settings.mirrors, settings.delayMs);
    const Timing delayedParallel =
        timeCheck(mainUrl, listPath, settings.parallel, settings.mirrors, output);
    const Timing delayedSequential = timeCheck(mainUrl, listPath, 1, settings.mirrors, output);
    const std::string label = "server " + std::to_string(2 * settings.delayMs) + " ms per answer";
    printRow(label.c_str(), delayedParallel, delayedSequential);

    std::printf("\n%d mirrors in %.2f s on loopback with --parallel %d: %s the 10 s goal\n",
                settings.mirrors, loopbackParallel.seconds, settings.parallel,
                loopbackParallel.seconds < 10 ? "within" : "beyond");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--mirrors") == 0) settings.mirrors = value;
        if (std::strcmp(argv[i], "--servers") == 0) settings.servers = value;
        if (std::strcmp(argv[i], "--parallel") == 0) settings.parallel = value;
        if (std::strcmp(argv[i], "--delay-ms") == 0) settings.delayMs = value;
    }
    try {
        return runBench(settings);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "mirrors_bench: %s\n", failure.what());
        return 1;
    }
}
