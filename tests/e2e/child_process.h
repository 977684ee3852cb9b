// Child processes of the end-to-end tests. Everything a child needs is made
// before the fork: the test program has threads.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts `argv` (a program's path first) with stdin empty and its output
// appended to `outputPath` (empty: this process's own).
pid_t spawn(const std::vector<std::string>& argv, const std::string& outputPath = "");
// Waits for the end of `child`: its exit status, 128 + the signal that ended it.
int waitFor(pid_t child);
// Whether `child` has ended; it is left for waitFor or stopChild to reap.
bool hasEnded(pid_t child);
// SIGKILL, then reaps.
void stopChild(pid_t child);
