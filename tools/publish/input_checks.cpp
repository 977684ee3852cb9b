#include "publish/input_checks.h"

#include <cstdio>
#include <cstdlib>

#include "update/version_decision.h"

namespace {

std::string numberText(double number, int decimals) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, number);
    return buffer;
}

// The float as a person would write it: 1.2, 0, 100000.
std::string shortNumberText(float number) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.7g", static_cast<double>(number));
    return buffer;
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Digits, optionally one '.' and more digits: the only texts that atof reads
// whole and that nobody reads as a dotted version.
bool isDecimalNumber(const std::string& text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos) return allDigits(text);
    return allDigits(text.substr(0, dot)) && allDigits(text.substr(dot + 1));
}

int decimalPlaces(const std::string& decimal) {
    const std::size_t dot = decimal.find('.');
    return dot == std::string::npos ? 0 : static_cast<int>(decimal.size() - dot - 1);
}

}  // namespace

std::string versionProblem(const std::string& version) {
    if (version.empty()) return "the version is empty";
    const float number = versionNumber(version);
    if (!isDecimalNumber(version)) {
        return "version \"" + version + "\" is not a decimal number such as 1.1; the updater " +
               "would read it as " + shortNumberText(number);
    }
    if (number == 0.0f) return "version " + version + " is 0 to the updater and is never offered";
    // Printed back at its own precision, the float must give the same number,
    // or two different versions could compare equal.
    const std::string readBack = numberText(number, decimalPlaces(version));
    if (std::strtod(readBack.c_str(), nullptr) != std::strtod(version.c_str(), nullptr)) {
        return "version " + version + " is beyond the updater's precision (a 32-bit float); " +
               "it would be read as " + readBack;
    }
    return std::string();
}

std::string versionNote(const std::string& version) {
    if (decimalPlaces(version) < 2 || version.back() != '0') return std::string();
    std::string number = version.substr(0, version.find_last_not_of('0') + 1);
    if (number.back() == '.') number.pop_back();
    return "version " + version + " is the number " + number +
           " to the updater, which compares decimal numbers, not dotted versions";
}

std::string urlProblem(const std::string& url) {
    std::size_t schemeLength = 0;
    if (url.compare(0, 8, "https://") == 0) {
        schemeLength = 8;
    } else if (url.compare(0, 7, "http://") == 0) {
        schemeLength = 7;
    } else {
        return "URL \"" + url + "\" must begin with https:// or http://";
    }
    if (url.size() == schemeLength) return "URL \"" + url + "\" names no host";
    for (char c : url) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            return "URL \"" + url + "\" holds white space or a control character; " +
                   "percent-encode it (%20 for a space)";
        }
    }
    return std::string();
}
