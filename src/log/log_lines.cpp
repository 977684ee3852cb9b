#include "log/log_lines.h"

#include "log/log_level.h"
#include "log/time_text.h"

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

}  // namespace

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

std::string logLine(const std::string& message, int level, bool fullStop) {
    return prefixFor(level) + message + (fullStop ? ".\n" : "\n");
}
