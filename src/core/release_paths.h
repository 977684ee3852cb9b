// Where a run keeps the release it installs. Every step that needs one of
// these paths asks here, and so does the publishing tool, which unpacks a
// package as the updater does.
#pragma once

#include <string>

// The package as downloaded, beside the updater.
std::string downloadedPackagePath(const std::string& installDir);
// A delta file as downloaded, beside the package's place.
std::string downloadedDeltaPath(const std::string& installDir);
// The copy of the package that the administrative unpack leaves.
std::string stagedPackagePath(const std::string& updateDir);
// The unpacked "program files" tree. The unpack writes its folders in their
// authored letter case: look it up with platform::pathIgnoringCase.
std::string stagingTreePath(const std::string& updateDir);
// The release's own files inside the staging tree, the tree that is copied
// over the installation.
std::string unpackedTreePath(const std::string& stagingTree);
