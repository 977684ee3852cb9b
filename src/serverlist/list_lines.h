// The line rules of ServerList.lst: which lines are comments, the version
// line or server entries, and the manifest URL an entry stands for.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Reads `file` to its end, line by line (LF ends a line, a CR before it is no
// part of it, the last line needs no line end), and applies the line rules:
// a version line sets `version` while it is "0.0"; each entry's manifest URL
// is appended to `urls` until it holds ServerList::maxEntries, later entries
// being ignored. Everything else is skipped without a word.
void readListLines(std::FILE* file, std::vector<std::string>& urls, std::string& version);

// Opens `path` in text mode, as the updater opens its list, and reads it with
// readListLines; false when it cannot be opened.
bool readListFile(const std::string& path, std::vector<std::string>& urls, std::string& version);
