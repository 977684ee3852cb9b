#include "e2e/log_match.h"

#include <algorithm>
#include <regex>

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

bool lineMatches(const std::string& expected, const std::string& actual) {
    if (expected.find('<') == std::string::npos) return expected == actual;
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])"), any("<any>"), seconds("<seconds>");
    std::string pattern = std::regex_replace(expected, special, R"(\$&)");
    pattern = std::regex_replace(pattern, any, ".+");
    pattern = std::regex_replace(pattern, seconds, "[0-9]+\\.[0-9][0-9]");
    return std::regex_match(actual, std::regex(pattern));
}

std::string logDifference(const std::vector<std::string>& expected,
                          const std::vector<std::string>& actual) {
    std::size_t line = 0;
    while (line < expected.size() && line < actual.size() &&
           lineMatches(expected[line], actual[line])) {
        ++line;
    }
    if (line == expected.size() && line == actual.size()) return "";
    const auto numbered = [](const std::vector<std::string>& lines) {
        std::string text;
        for (std::size_t i = 0; i < lines.size(); ++i)
            text += "  " + std::to_string(i + 1) + ": " + lines[i] + "\n";
        return text;
    };
    return "The logs differ from line " + std::to_string(line + 1) + ".\nExpected:\n" +
           numbered(expected) + "Actual:\n" + numbered(actual);
}
