#include "core/process_count.h"

#include "platform/platform.h"

int countProcessesByName(const std::string& exeName) {
    // Widened as the process list widens the names it reports.
    const std::wstring wideName = platform::widenPath(exeName);
    int count = 0;
    for (const std::wstring& processName : platform::runningProcessNames()) {
        if (processName == wideName) ++count;
    }
    return count;
}
