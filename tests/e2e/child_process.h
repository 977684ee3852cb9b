// Child processes of the end-to-end tests, made ready before the fork: the
// test program has threads.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts `argv` (a program's path first), stdin empty, its output appended to
// `outputPath` (empty: this process's own).
pid_t spawn(const std::vector<std::string>& argv, const std::string& outputPath = "");
// The exit status of `child` once it ends, 128 + the signal that ended it.
int waitFor(pid_t child);
bool hasEnded(pid_t child);   // leaves it to be reaped
void stopChild(pid_t child);  // SIGKILL, then reaps
