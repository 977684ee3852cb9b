// The POSIX stand-ins for the Windows command lines the updater runs. Paths
// are quoted for the shell here, since they reach /bin/sh as text.
#pragma once

#include <string>

namespace posix_commands {

// Quotes `text` as one shell word.
std::string shellQuote(const std::string& text);

// Unpacks the package into `targetDir` so that it holds a copy of the package
// and the tree "program files/Halvorne/Pelorin", as the administrative
// unpack does on Windows.
std::string adminUnpack(const std::string& packagePath, const std::string& targetDir);

// Removes the tree at `path` and every sibling whose name differs from its
// last piece only in letter case.
std::string removeTree(const std::string& path);

// Copies the unpacked tree over the installation and removes the staging tree
// only after the copy succeeded.
std::string copyAndClean(const std::string& unpackedTree, const std::string& destinationDir,
                         const std::string& stagingTree);

}  // namespace posix_commands
