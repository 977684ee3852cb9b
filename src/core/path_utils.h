// Small path and file helpers shared by every subsystem. None of them logs or
// throws: a failed test answers false and the caller reports.
#pragma once

#include <string>

// directory + separator + name; a directory ending in the separator doubles it.
std::string joinPath(const std::string& directory, const std::string& name);
// The text before the last separator, or the whole text when there is none.
std::string parentPath(const std::string& path);
// The text before the last '/', or the whole text when there is none.
std::string urlParent(const std::string& url);
bool directoryExists(const std::string& path);
// True for anything of that name, directories included.
bool fileExists(const std::string& path);
// Creates one directory; also true when it already exists as a directory.
bool makeDirectory(const std::string& path);
// printf-style formatting into a 260-byte buffer.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string intToText(int value);
