#pragma once

class UpdaterContext;

// True when the command line asks for an update run: no words after the
// program's name, or not even the name (execve allows an empty list). The
// single-instance guard and the dispatch both ask it, so they never disagree.
bool isUpdateRun(int argc);

// Carries out the one action the command line asks for: an update run with
// no words, a scheduled-task command, or the invalid-command line.
void dispatchCommand(UpdaterContext& context, int argc, const char* const argv[]);
