// The update log: the one place where a run reports what it did. Rewritten
// by every run, in the temporary directory.
#include "app/path_utils.h"
#include "app/updater_context.h"
#include "log/time_text.h"
#include "platform/platform.h"

namespace {

const char* prefixFor(int level) {
    switch (level) {
        case LogLevel::Fatal:
            return "Fatal Error! ";
        case LogLevel::Error:
            return "Error! ";
        case LogLevel::Warning:
            return "Warning! ";
        case LogLevel::Tip:
            return "Tip: ";
        default:
            return "";
    }
}

std::string logHeader() {
    std::string header = "*************** PelorinAutoUpdate [2.5] **************\n\n";
    const std::string timeText = currentTimeText();
    if (!timeText.empty()) {
        header += "Started at: " + timeText + ".\n";
    } else {
        header += "Warning! Failed to read system time.\n";
    }
    return header;
}

}  // namespace

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
    const int effectiveLevel = level == LogLevel::Default ? state : level;
    const std::string line = prefixFor(effectiveLevel) + message + (fullStop ? ".\n" : "\n");
    logStream->write(line.data(), line.size());
    // The log is the run's only report, and a run can wait for days on the
    // browser or be killed: each line reaches the file as it is written.
    logStream->flush();
}
