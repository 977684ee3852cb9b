// Comparing a run's log with the expected one, line by line.
#pragma once

#include <string>
#include <vector>

// The lines of a text with "\n" line ends; a last line without one counts.
std::vector<std::string> linesOf(const std::string& text);
// In `expected`, "<any>" stands for one or more characters (libcurl's texts)
// and "<seconds>" for an elapsed time such as 0.52; the rest must be equal.
bool lineMatches(const std::string& expected, const std::string& actual);
// Empty when the logs match; otherwise the first difference and both logs.
std::string logDifference(const std::vector<std::string>& expected,
                          const std::vector<std::string>& actual);
