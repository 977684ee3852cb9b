#pragma once

#include <string>

// Polls every 500 ms, at most 240 times, until something exists at `path`
// (`present` set) or no directory does (`present` clear). The first test
// comes after the first sleep. False when the polls run out.
bool waitForPath(bool present, std::string path);
