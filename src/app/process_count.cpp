#include "app/process_count.h"

#include "platform/platform.h"

int countProcessesByName(const std::string& exeName) {
    std::wstring wideName;
    for (char c : exeName) wideName += static_cast<wchar_t>(static_cast<signed char>(c));
    int count = 0;
    for (const std::wstring& processName : platform::runningProcessNames()) {
        if (processName == wideName) ++count;
    }
    return count;
}
