// Child processes of the tests, made ready before the fork: a test may have threads.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts `argv` (a program first), stdin empty, output appended to `outputPath` (or the test's).
pid_t spawn(const std::vector<std::string>& argv, const std::string& outputPath = "");
int waitFor(pid_t child);     // its exit status, 128 + the signal that ended it
bool hasEnded(pid_t child);   // leaves it to be reaped
void stopChild(pid_t child);  // SIGKILL, then reaps
