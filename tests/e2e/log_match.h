// Comparing a run's log with a scenario's expected log, line by line.
#pragma once

#include <string>
#include <vector>

// The lines of a text with "\n" line ends; a last line without one counts.
std::vector<std::string> linesOf(const std::string& text);

// Whether `actual` is the `expected` line. Two markers in the expected line
// stand for text the updater does not choose: "<any>" for one or more
// characters (libcurl's error messages) and "<seconds>" for an elapsed time
// such as 0.52. Everything else must be equal byte for byte.
bool lineMatches(const std::string& expected, const std::string& actual);

// Empty when every line matches and the counts are equal; otherwise a report
// that names the first difference and shows both logs in full.
std::string logDifference(const std::vector<std::string>& expected,
                          const std::vector<std::string>& actual);
