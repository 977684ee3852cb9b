// Where the running test program lies; the updater is built beside it.
#pragma once

#include <windows.h>

#include <string>

inline std::string ownExecutablePath() {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, length);
}

inline std::string ownExecutableName() {
    const std::string path = ownExecutablePath();
    return path.substr(path.rfind('\\') + 1);
}

inline std::string besideOwnExecutable(const std::string& name) {
    const std::string path = ownExecutablePath();
    return path.substr(0, path.rfind('\\') + 1) + name;
}
