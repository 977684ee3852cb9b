// Rebuilding a release's program tree from a delta file and the installed
// release, in the staging folder where the administrative unpack puts it, so
// that the install goes on from there as after an unpack.
#pragma once

#include <string>

class UpdaterContext;

// Checks the installed files the delta refers to against its SHA-256s and the
// rebuilt files' size against the staging volume's free space, then writes
// every patched and new file into the staging tree and checks its SHA-256.
// Unchanged files are left out: the copy then touches only what changed.
// Empty on success; otherwise the line that says why the delta was not used
// (nothing logged here), and what it may have staged is for the next unpack
// to remove.
std::string applyDelta(UpdaterContext& context, const std::string& deltaPath);
