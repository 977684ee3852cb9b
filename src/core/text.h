// The few text rules the files and the command line share.
#pragma once

#include <string>
#include <string_view>

// `text` without spaces (0x20 only) at either end; tabs and other white space
// stay, as they do for every reader of the updater's files.
std::string_view withoutOuterSpaces(std::string_view text);
// ASCII letters in lower case, every other byte as it is.
std::string lowerCaseAscii(std::string text);
// `number` in decimal with a comma between each group of three digits, as
// the log writes byte counts: 61,440,000.
std::string groupedDigits(unsigned long long number);
// `text` read as a number our own files write: 1 to 18 decimal digits, no
// leading zero but for "0" itself. False for anything else.
bool plainDecimal(std::string_view text, unsigned long long& value);
