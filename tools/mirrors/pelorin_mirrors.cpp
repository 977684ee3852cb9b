// pelorin-mirrors: checks every mirror of a server list against the main
// server with the updater's own rules, and reports them worst first.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "common/work_folder.h"
#include "mirrors/mirror_check.h"
#include "mirrors/mirror_list.h"
#include "mirrors/report_output.h"
#include "platform/platform.h"
#include "update/release_signature.h"

namespace {

const char* const usageText =
    "usage: pelorin-mirrors --list FILE|URL --main URL --ca-bundle PEM\n"
    "           [--parallel N] [--full] [--json] [--timeout SECONDS] [--proxy URL]\n"
    "           [--release-key KEY]\n"
    "Checks every mirror in the server list against the main server's manifest\n"
    "at URL, over TLS verified against the CA bundle PEM, as the updater would:\n"
    "current, stale (an older version), different (the same version, another\n"
    "package or hash) or broken, worst first.\n"
    "  --parallel N       mirrors checked at once (default 16)\n"
    "  --full             download each package and verify its SHA-1\n"
    "  --json             the report as JSON\n"
    "  --timeout SECONDS  connect time-out, and how long a transfer may stay\n"
    "                     below 1,024 bytes/s (default the updater's: 30 and 60)\n"
    "  --proxy URL        every transfer through this proxy (http://host:port);\n"
    "                     default the one the updater takes: https_proxy, all_proxy\n"
    "                     and no_proxy (on Windows also the system's setting)\n"
    "  --release-key KEY  the release key, 64 hexadecimal digits or the .pub file\n"
    "                     pelorin-publish keygen wrote: each manifest's signature\n"
    "                     must verify and not have expired (else broken), and its\n"
    "                     serial not be older than the main server's (else stale)\n"
    "Exit status: 0 every mirror is current, 1 some are not, 2 bad usage or input.\n";

constexpr int allCurrent = 0;
constexpr int notAllCurrent = 1;
constexpr int badInput = 2;

struct Options {
    std::map<std::string, std::string> values;
    bool full = false;
    bool json = false;
};

int usageError(const std::string& message) {
    std::cerr << "pelorin-mirrors: " << message << "\n" << usageText;
    return badInput;
}

int inputError(const std::string& message) {
    std::cerr << "pelorin-mirrors: " << message << "\n";
    return badInput;
}

// Empty when every option is known, given once, and has its value.
std::string parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--full" || name == "--json") {
            (name == "--full" ? options.full : options.json) = true;
            continue;
        }
        if (name != "--list" && name != "--main" && name != "--ca-bundle" && name != "--parallel" &&
            name != "--timeout" && name != "--proxy" && name != "--release-key") {
            return "unknown option \"" + name + "\"";
        }
        if (i + 1 == argc) return name + " needs a value";
        if (options.values.count(name)) return name + " given twice";
        options.values[name] = argv[++i];
    }
    for (const char* name : {"--list", "--main", "--ca-bundle"}) {
        if (!options.values.count(name)) return std::string(name) + " is missing";
    }
    return std::string();
}

// A whole number from `low` to `high`, or false.
bool readCount(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && value >= low && value <= high;
}

std::string readSettings(const Options& options, TransferSettings& settings) {
    settings.caBundlePath = options.values.at("--ca-bundle");
    long value = 0;
    if (options.values.count("--parallel")) {
        if (!readCount(options.values.at("--parallel"), 1, 1024, value)) {
            return "--parallel takes a number from 1 to 1024";
        }
        settings.parallel = static_cast<std::size_t>(value);
    }
    if (options.values.count("--timeout")) {
        if (!readCount(options.values.at("--timeout"), 1, 3600, value)) {
            return "--timeout takes a number of seconds from 1 to 3600";
        }
        settings.timeouts.connectSeconds = value;
        settings.timeouts.lowSpeedSeconds = value;
    }
    if (options.values.count("--proxy")) {
        settings.proxy = options.values.at("--proxy");
        if (settings.proxy.empty()) return "--proxy takes a proxy URL";
    }
    return std::string();
}

// The key as given, or the first word of the file that holds it.
std::string readReleaseKey(const Options& options, std::string& key) {
    if (!options.values.count("--release-key")) return std::string();
    key = options.values.at("--release-key");
    std::ifstream file(key);
    if (file) file >> key;
    std::string bytes;
    if (!hexBytes(key, bytes) || bytes.size() != 32)
        return "--release-key takes 64 hexadecimal digits or a file that holds them";
    return std::string();
}

// Redrawn in place on a terminal; nothing when standard error is a file or pipe.
CheckProgress progressLine() {
    if (!platform::isTerminal(stderr)) return [](const char*, std::size_t, std::size_t) {};
    return [](const char* phase, std::size_t done, std::size_t total) {
        std::fprintf(stderr, "\rpelorin-mirrors: %s %zu/%zu   ", phase, done, total);
        if (done == total) std::fprintf(stderr, "\r%60s\r", "");
        std::fflush(stderr);
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << usageText;
        return allCurrent;
    }
    Options options;
    MirrorCheckInput input;
    std::string problem = parseOptions(argc, argv, options);
    if (problem.empty()) problem = readSettings(options, input.settings);
    if (problem.empty()) problem = readReleaseKey(options, input.releaseKey);
    if (!problem.empty()) return usageError(problem);
    if (!platform::fileStatus(input.settings.caBundlePath).isRegularFile) {
        return inputError("the CA bundle \"" + input.settings.caBundlePath + "\" is no file");
    }
    WorkFolder workDir("pelorin-mirrors-");
    if (workDir.path().empty()) return inputError("cannot create a temporary directory");
    const std::string& listSource = options.values.at("--list");
    if (!loadMirrorList(listSource, input.settings, workDir.file("ServerList.lst"),
                        input.mirrorManifestUrls, problem)) {
        return inputError(problem);
    }
    if (input.mirrorManifestUrls.empty()) {
        return inputError("the server list \"" + listSource + "\" names no mirror");
    }
    input.mainManifestUrl = options.values.at("--main");
    input.full = options.full;
    MirrorReport report;
    if (!checkMirrors(input, workDir.path(), report, problem, progressLine())) {
        return inputError(problem);
    }
    if (options.json) {
        writeJson(report, std::cout);
    } else {
        writeTable(report, std::cout);
    }
    std::cout.flush();
    for (const MirrorResult& mirror : report.mirrors) {
        if (mirror.verdict.mirrorClass != MirrorClass::Current) return notAllCurrent;
    }
    return allCurrent;
}
