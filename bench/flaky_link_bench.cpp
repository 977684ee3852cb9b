// What a server sends for one package over a link that drops every few
// megabytes: the download as it was before kept bytes were resumed (a
// Download, each attempt from byte 0, what arrived thrown away; the manifest
// fetch still uses it) against the package download (downloadHashedFile).
// Each attempt stands for one run: a fresh context, only the disk carried
// over, up to --runs runs. The tests' HTTPS server on 127.0.0.1 cuts every
// answer after --drop-every MiB ("drop_after"); its log of what it sent is
// summed. Figures, never a verdict.
//
//   flaky_link_bench [--megabytes 100] [--drop-every 20] [--runs 5]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>

#include "core/text.h"
#include "core/updater_context.h"
#include "support/installation.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "transfer/download.h"
#include "transfer/file_hash.h"
#include "transfer/package_download.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int runs = 0;
    bool whole = false;
};

// Bytes the server sent, and answers it gave, for `path`.
std::pair<unsigned long long, int> sentFor(const TestServer& server, const std::string& path) {
    std::istringstream lines(server.sentLog());
    std::string line;
    unsigned long long bytes = 0;
    int answers = 0;
    while (std::getline(lines, line)) {
        if (line.compare(0, path.size() + 1, path + " ") != 0) continue;
        bytes += std::stoull(line.substr(line.rfind(' ') + 1));
        ++answers;
    }
    return {bytes, answers};
}

UpdaterContext& freshContext(std::unique_ptr<UpdaterContext>& context) {
    context = std::make_unique<UpdaterContext>();
    context->state = LogLevel::Info;
    context->caBundlePath = TestServer::caBundlePath();
    return *context;
}

Outcome withoutResume(const std::string& url, const std::string& file, const std::string& hash,
                      int runs) {
    Outcome outcome;
    std::unique_ptr<UpdaterContext> context;
    while (outcome.runs < runs && !outcome.whole) {
        ++outcome.runs;
        Download download(freshContext(context), file, packageByteLimit);
        outcome.whole = download.opened() && download.run(url) &&
                        (download.closeFile(), fileMatchesHash(file, hash));
    }
    return outcome;
}

Outcome withResume(const std::string& url, const std::string& file, const std::string& hash,
                   int runs) {
    Outcome outcome;
    std::unique_ptr<UpdaterContext> context;
    while (outcome.runs < runs && !outcome.whole) {
        ++outcome.runs;
        outcome.whole = downloadHashedFile(freshContext(context), url, hash, file) &&
                        fileMatchesHash(file, hash);
    }
    return outcome;
}

void report(const char* name, const Outcome& outcome, std::pair<unsigned long long, int> sent) {
    std::printf("%-18s %d run(s), %s bytes sent in %d answers, package %s\n", name, outcome.runs,
                groupedDigits(sent.first).c_str(), sent.second,
                outcome.whole ? "whole" : "never whole");
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long megabytes = 100, dropEvery = 20;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--megabytes")) megabytes = std::stoull(argv[i + 1]);
        if (!std::strcmp(argv[i], "--drop-every")) dropEvery = std::stoull(argv[i + 1]);
        if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
    }
    TempDir work;
    ::setenv("TMPDIR", work.path().c_str(), 1);  // the contexts' logs
    ::setenv("PELORIN_REGISTRY_ROOT", (work.path() + "/registry").c_str(), 1);
    TestServer server;
    std::string package(megabytes << 20, '\0');
    std::mt19937_64 noise(1);
    for (char& byte : package) byte = static_cast<char>(noise());
    const std::string hash = hashFileToHex(server.putFile("/p.msi", package));
    package.clear();
    const std::string rule =
        "{\"file\": \"/p.msi\", \"drop_after\": " + std::to_string(dropEvery << 20) + "}";
    server.setRule("/before.msi", rule);
    server.setRule("/after.msi", rule);
    std::printf("%llu MiB package, the link dropped every %llu MiB, at most %d runs\n", megabytes,
                dropEvery, runs);
    const Outcome before =
        withoutResume(server.url("/before.msi"), work.path() + "/before.msi", hash, runs);
    report("before (Download)", before, sentFor(server, "/before.msi"));
    const Outcome after =
        withResume(server.url("/after.msi"), work.path() + "/after.msi", hash, runs);
    report("after (resumed)", after, sentFor(server, "/after.msi"));
    return 0;
}
