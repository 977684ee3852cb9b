// Any command line (zero bytes part its words) through the dispatch: the task registered or
// removed for at most three words, else the invalid-command line and the crontab as it was.
#include <cstdlib>
#include <vector>

#include "app/command_dispatch.h"
#include "core/updater_context.h"
#include "support/installation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Installation installation;
    static UpdaterContext& updater = *[] {
        installation.layOutComplete();
        installation.useInThisProcess();
        ::setenv("PATH", (installation.stubDir + ":" + std::getenv("PATH")).c_str(), 1);
        return new UpdaterContext();
    }();
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size; ++i)
        data[i] ? words.back() += char(data[i]) : words.emplace_back();
    std::vector<const char*> argv{"PelorinAutoUpdate"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    const std::string before = readFile(installation.crontabPath());
    updater.openLog();  // a new log, so that it never grows
    updater.state = LogLevel::Info;
    dispatchCommand(updater, static_cast<int>(argv.size()), argv.data());
    updater.logStream->flush();
    const std::string log = readFile(updater.logFilePath);
    const std::string crontab = readFile(installation.crontabPath());
    const bool acted = log.find("Attempting to register scheduler...\n") != std::string::npos ||
                       log.find("Attempting to de-register scheduler...\n") != std::string::npos;
    const bool invalid = log.find("\" is invalid.\n") != std::string::npos;
    if (acted == invalid || (acted && words.size() > 3) || (invalid && crontab != before) ||
        crontab.find("# PelorinUpdateTask") != crontab.rfind("# PelorinUpdateTask"))
        std::abort();
    return 0;
}
