// What the updater would misread in a publisher's input. Each check gives the
// reason in a sentence for the command line, or the empty text when the value
// reaches the updater as it was meant.
#pragma once

#include <string>

// A version the updater would read as another number. It reads versions
// with atof into 32-bit floats, so "1.2.3" is 1.2, "beta" is 0 and
// "1.00000001" is 1.
std::string versionProblem(const std::string& version);

// A version the updater reads exactly but that looks like another: "2.10" is
// the number 2.1, older than 2.9. Empty when there is nothing to say.
std::string versionNote(const std::string& version);

// A URL the updater cannot fetch as written: another scheme, no host, or
// white space or control characters, which its XML reader would condense.
std::string urlProblem(const std::string& url);
