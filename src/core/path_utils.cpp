#include "core/path_utils.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

std::string joinPath(const std::string& directory, const std::string& name) {
    return directory + platform::pathSeparator + name;
}

static std::string textBeforeLast(const std::string& text, char separator) {
    const std::size_t position = text.rfind(separator);
    return position == std::string::npos ? text : text.substr(0, position);
}

std::string parentPath(const std::string& path) {
    return textBeforeLast(path, platform::pathSeparator);
}

std::string urlParent(const std::string& url) {
    return textBeforeLast(url, '/');
}

bool directoryExists(const std::string& path) {
    return platform::fileStatus(path).isDirectory;
}

bool fileExists(const std::string& path) {
    return platform::fileStatus(path).exists;
}

bool makeDirectory(const std::string& path) {
    bool alreadyExists = false;
    if (platform::createDirectory(path, alreadyExists)) return true;
    return alreadyExists && directoryExists(path);
}

std::string formatText(const char* format, ...) {
    char buffer[260];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return length < 0 ? std::string() : std::string(buffer);
}

std::string intToText(int value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d", value);
    return buffer;
}
