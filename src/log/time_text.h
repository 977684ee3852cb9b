// The local time as the log writes it, e.g. "Saturday, December 05, 2026, 09:04:07pm".
#pragma once

#include <ctime>
#include <string>

// The current local time as text; empty when the local time cannot be read.
std::string currentTimeText();
// The text for a given local time (12-hour clock: hour 0 shows 12 am, and
// hour 12 shows as 12 "am" too).
std::string formatTimeText(const std::tm& localTime);
