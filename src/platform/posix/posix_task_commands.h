// The scheduled task on POSIX: one crontab entry tagged with the task's name,
// so that deleting removes exactly that entry. The administrative form goes
// into root's crontab (it needs root, as the System account needs an
// administrator); the other into the crontab of the user who registers it.
#pragma once

#include <string>

namespace posix_task_commands {

// Every command reads the table first and, when it cannot be read (other than
// "no crontab for USER"), ends with a non-zero status and leaves it as it is.

// Removes the tagged entry; non-zero status when there is none.
std::string deleteTask();
// Installs the definition file's lines, tagged, into root's crontab; non-zero
// status when the file gives no line. Both create commands end with a non-zero
// status unless the table afterwards holds the tagged entry.
std::string createTaskFromDefinition(const std::string& definitionPath);
// An entry every `everyHoursText` hours: /bin/sh LAUNCHER UPDATER.
std::string createRepeatingTask(const std::string& everyHoursText,
                                const std::string& launcherScriptPath,
                                const std::string& updaterExePath, bool administrative);

}  // namespace posix_task_commands
