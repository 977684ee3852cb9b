// The delta file of a release against an earlier one (layout:
// src/install/delta_file.h), made from the two packages' program trees.
#pragma once

#include <string>

// From the two program trees, as the administrative unpack lays them out:
// every file of `newTree` unchanged, patched (zstd with the old file's bytes
// around each chunk as its reference prefix) or new. Empty, or the problem.
std::string writeTreeDelta(const std::string& oldTree, const std::string& newTree,
                           const std::string& deltaPath);
// Both packages unpacked as the updater unpacks them, into temporary folders
// removed again; `previousVersion` receives what the previous package's
// version file says. Empty, or the problem in a sentence.
std::string writePackageDelta(const std::string& previousPackage, const std::string& package,
                              const std::string& deltaPath, std::string& previousVersion);
