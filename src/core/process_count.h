#pragma once

#include <string>

// The number of running processes whose executable file name equals
// `exeName` exactly (letter case counting); 0 when the list cannot be read.
int countProcessesByName(const std::string& exeName);
