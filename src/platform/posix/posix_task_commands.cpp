#include "platform/posix/posix_task_commands.h"

#include "platform/posix/posix_commands.h"

namespace {

const std::string taskEntry = "-e '# PelorinUpdateTask$'";

std::string crontab(bool administrative) {
    return administrative ? "crontab -u root" : "crontab";
}

// Puts the table in $t, or ends the command with status 1: a table that could
// not be read must not be written back without the entries it holds. Only
// "no crontab for USER" means an empty table.
std::string readTable(bool administrative) {
    const std::string list = crontab(administrative) + " -l";
    return "t=$(" + list + " 2>/dev/null) || { " + list +
           " 2>&1 >/dev/null | grep -q '^no crontab for ' && t=; } || exit 1; ";
}

// Writes the table's other entries and then `entries` (a command that prints
// them), and succeeds only when the table then holds the task's entry.
std::string writeTableWith(const std::string& entries, bool administrative) {
    return "{ [ -z \"$t\" ] || printf '%s\\n' \"$t\" | grep -v " + taskEntry + "; " + entries +
           "; } | " + crontab(administrative) + " - && " + crontab(administrative) +
           " -l 2>/dev/null | grep -q " + taskEntry;
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
    return readTable(false) + "printf '%s\\n' \"$t\" | grep -q " + taskEntry +
           " || exit 1; printf '%s\\n' \"$t\" | grep -v " + taskEntry + " | crontab -";
}

// A definition that cannot be read or holds no line installs nothing and fails.
std::string createTaskFromDefinition(const std::string& definitionPath) {
    return readTable(true) + "d=$(sed -e '/^[[:space:]]*$/d' -e 's/$/ # PelorinUpdateTask/' " +
           posix_commands::shellQuote(definitionPath) + ") && [ -n \"$d\" ] || exit 1; " +
           writeTableWith("printf '%s\\n' \"$d\"", true);
}

std::string createRepeatingTask(const std::string& everyHoursText,
                                const std::string& launcherScriptPath,
                                const std::string& updaterExePath, bool administrative) {
    const std::string entry =
        "0 */" + everyHoursText + " * * * " +
        cronEscape("/bin/sh " + posix_commands::shellQuote(launcherScriptPath) + " " +
                   posix_commands::shellQuote(updaterExePath)) +
        " # PelorinUpdateTask";
    return readTable(administrative) +
           writeTableWith("printf '%s\\n' " + posix_commands::shellQuote(entry), administrative);
}

}  // namespace posix_task_commands
