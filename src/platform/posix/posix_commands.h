// The POSIX stand-ins for the Windows command lines the updater runs. Paths
// are quoted for the shell, since they reach /bin/sh as text. The scheduled
// task is one crontab entry tagged with the task's name, so that deleting
// removes exactly that entry.
#pragma once

#include "platform/platform.h"

namespace platform {

extern const CommandBuilders posixCommands;

}  // namespace platform
