// Whether every updater could install a package: the same administrative
// unpack, the same program tree and the same version file the updater uses.
#pragma once

#include <string>

// Unpacks `packagePath` into a temporary folder, removed again whatever
// happens, and gives the reason in a sentence why no updater could install
// it as version `version`, or the empty text when it could: it does not
// unpack, it holds no program tree where the updater copies from, or the
// version file in that tree is missing or names another version.
std::string packageProblem(const std::string& packagePath, const std::string& version);
// The unpack alone, into `folder` (which the caller removes): `programTree`
// receives the program tree's path. Empty, or the reason as above.
std::string unpackProgramTree(const std::string& packagePath, const std::string& folder,
                              std::string& programTree);
