// The context's own operations: the update log, the one place where a run
// reports what it did. Rewritten by every run, in the temporary directory.
#include "core/updater_context.h"

#include "core/path_utils.h"
#include "log/log_lines.h"
#include "platform/platform.h"

void UpdaterContext::openLog() {
    logFilePath = platform::temporaryDirectory();
    if (!logFilePath.empty() && logFilePath.back() == platform::pathSeparator) {
        logFilePath.pop_back();
    }
    if (logFilePath.empty() || !directoryExists(logFilePath)) return;
    logFilePath = joinPath(logFilePath, "PelorinAutoUpdate.log");
    logStream = std::make_unique<LogFile>(platform::openLogFile(logFilePath));
    logOpen = logStream->isOpen();
    if (!logOpen) return;
    const std::string header = logHeader();
    logStream->write(header.data(), header.size());
    logStream->flush();
}

void UpdaterContext::log(const std::string& message, int level, bool fullStop) {
    if (!logOpen || message.empty()) return;
    const std::string line = logLine(message, level == LogLevel::Default ? state : level, fullStop);
    logStream->write(line.data(), line.size());
    // The log is the run's only report, and a run can wait for days on the
    // browser or be killed: each line reaches the file as it is written.
    logStream->flush();
}
