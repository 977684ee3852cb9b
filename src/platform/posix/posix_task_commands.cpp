#include "platform/posix/posix_task_commands.h"

#include "platform/posix/posix_commands.h"

namespace {

const std::string taskTag = "# PelorinUpdateTask";

// The crontab as it is, less any entry of the task.
std::string otherEntries() {
    return "crontab -l 2>/dev/null | grep -v -e '" + taskTag + "$'";
}

std::string crontabWriter(bool administrative) {
    return administrative ? "crontab -u root -" : "crontab -";
}

// cron turns every '%' not escaped with a backslash into a line end, and
// drops the backslash of an escaped one.
std::string cronEscape(const std::string& command) {
    std::string escaped;
    for (char c : command) {
        if (c == '%') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace

namespace posix_task_commands {

std::string deleteTask() {
    return "crontab -l 2>/dev/null | grep -q -e '" + taskTag + "$' && { " + otherEntries() +
           "; } | crontab -";
}

std::string createTaskFromDefinition(const std::string& definitionPath) {
    return "{ " + otherEntries() + "; sed -e '/^[[:space:]]*$/d' -e 's/$/ " + taskTag + "/' " +
           posix_commands::shellQuote(definitionPath) + "; } | " + crontabWriter(true);
}

std::string createRepeatingTask(const std::string& everyHoursText,
                                const std::string& launcherScriptPath,
                                const std::string& updaterExePath, bool administrative) {
    const std::string entry =
        "0 */" + everyHoursText + " * * * " +
        cronEscape("/bin/sh " + posix_commands::shellQuote(launcherScriptPath) + " " +
                   posix_commands::shellQuote(updaterExePath)) +
        " " + taskTag;
    return "{ " + otherEntries() + "; printf '%s\\n' " + posix_commands::shellQuote(entry) +
           "; } | " + crontabWriter(administrative);
}

}  // namespace posix_task_commands
