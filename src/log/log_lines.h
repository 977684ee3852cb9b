// What the update log says besides the run's own messages: the header that
// opens it and the prefix that each line's level picks.
#pragma once

#include <string>

// "*************** PelorinAutoUpdate [2.5] **************", a blank line and
// the start time, or a warning when the time cannot be read.
std::string logHeader();

// prefix + message + (".\n" or "\n"); the prefix is the level's ("Fatal
// Error! ", "Error! ", "Warning! ", "Tip: ") or none.
std::string logLine(const std::string& message, int level, bool fullStop);
