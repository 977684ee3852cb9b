#pragma once

class UpdaterContext;

// Carries out the one action the command line asks for: an update run with
// no words, a scheduled-task command, or the invalid-command line.
void dispatchCommand(UpdaterContext& context, int argc, const char* const argv[]);
