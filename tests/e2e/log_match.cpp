#include "e2e/log_match.h"

#include <algorithm>
#include <regex>

namespace {

const std::string anyMarker = "<any>";
const std::string secondsMarker = "<seconds>";

std::string escapedForRegex(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

std::regex patternOf(const std::string& expected) {
    std::string pattern;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type any = expected.find(anyMarker, start);
        const std::string::size_type seconds = expected.find(secondsMarker, start);
        const std::string::size_type marker = std::min(any, seconds);
        pattern += escapedForRegex(expected.substr(start, marker - start));
        if (marker == std::string::npos) break;
        pattern += marker == any ? ".+" : "[0-9]+\\.[0-9][0-9]";
        start = marker + (marker == any ? anyMarker : secondsMarker).size();
    }
    return std::regex(pattern);
}

std::string numbered(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += "  " + std::to_string(i + 1) + ": " + lines[i] + "\n";
    }
    return text.empty() ? "  (no lines)\n" : text;
}

}  // namespace

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool lineMatches(const std::string& expected, const std::string& actual) {
    if (expected.find(anyMarker) == std::string::npos &&
        expected.find(secondsMarker) == std::string::npos) {
        return expected == actual;
    }
    return std::regex_match(actual, patternOf(expected));
}

std::string logDifference(const std::vector<std::string>& expected,
                          const std::vector<std::string>& actual) {
    std::size_t line = 0;
    while (line < expected.size() && line < actual.size() &&
           lineMatches(expected[line], actual[line])) {
        ++line;
    }
    if (line == expected.size() && line == actual.size()) return std::string();
    std::string report = "The logs differ from line " + std::to_string(line + 1) + ":\n";
    report += "  expected: " + (line < expected.size() ? expected[line] : "(no more lines)") + "\n";
    report += "  actual:   " + (line < actual.size() ? actual[line] : "(no more lines)") + "\n";
    return report + "Expected log:\n" + numbered(expected) + "Actual log:\n" + numbered(actual);
}
