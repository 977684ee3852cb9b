// The command lines the updater hands to the Windows command interpreter.
// Pure text, built on every platform so that they are tested byte for byte.
// Paths are inserted as they are: the programs receiving them expect them so.
#pragma once

#include <string>

namespace windows_commands {

std::string adminUnpack(const std::string& packagePath, const std::string& targetDir);
std::string removeTree(const std::string& path);
std::string copyAndClean(const std::string& unpackedTree, const std::string& destinationDir,
                         const std::string& stagingTree);
std::string deleteTask();
std::string createTaskFromDefinition(const std::string& definitionPath);
std::string createRepeatingTask(const std::string& everyHoursText,
                                const std::string& launcherScriptPath,
                                const std::string& updaterExePath, bool administrative);

}  // namespace windows_commands
