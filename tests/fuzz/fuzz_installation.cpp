#include "fuzz/fuzz_installation.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

struct FuzzSetUp {
    FuzzSetUp() {
        installation.layOutComplete();
        installation.useInThisProcess();
        const char* path = std::getenv("PATH");
        const std::string searchPath = installation.stubDir + ":" + (path ? path : "");
        ::setenv("PATH", searchPath.c_str(), 1);
        context = std::make_unique<UpdaterContext>();
        require(context->state != LogLevel::Fatal && context->serverList && context->logOpen,
                "the updater context over the fuzz installation failed");
        takeLogText(*context);
    }

    Installation installation;
    std::unique_ptr<UpdaterContext> context;
};

FuzzSetUp& fuzzSetUp() {
    static FuzzSetUp setUp;
    return setUp;
}

}  // namespace

Installation& fuzzInstallation() {
    return fuzzSetUp().installation;
}

UpdaterContext& fuzzContext() {
    return *fuzzSetUp().context;
}

std::string takeLogText(UpdaterContext& context) {
    context.logStream->flush();
    const std::string log = readFile(context.logFilePath);
    std::size_t bodyStart = 0;
    for (int headerLines = 3; headerLines > 0 && bodyStart != std::string::npos; --headerLines) {
        bodyStart = log.find('\n', bodyStart);
        if (bodyStart != std::string::npos) ++bodyStart;
    }
    context.openLog();
    require(context.logOpen, "the log did not open again");
    return bodyStart == std::string::npos ? std::string() : log.substr(bodyStart);
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    require(static_cast<bool>(file.flush()), "a fuzz input could not be written");
}

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
