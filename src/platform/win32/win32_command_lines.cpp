// The Windows command lines are the ones the updater was designed around.
#include "platform/platform.h"
#include "platform/win32/windows_commands.h"

namespace platform {

std::string adminUnpackCommand(const std::string& packagePath, const std::string& targetDir) {
    return windows_commands::adminUnpack(packagePath, targetDir);
}

std::string removeTreeCommand(const std::string& path) {
    return windows_commands::removeTree(path);
}

std::string copyAndCleanCommand(const std::string& unpackedTree, const std::string& destinationDir,
                                const std::string& stagingTree) {
    return windows_commands::copyAndClean(unpackedTree, destinationDir, stagingTree);
}

std::string deleteTaskCommand() {
    return windows_commands::deleteTask();
}

std::string createTaskFromDefinitionCommand(const std::string& definitionPath) {
    return windows_commands::createTaskFromDefinition(definitionPath);
}

std::string createRepeatingTaskCommand(const std::string& everyHoursText,
                                       const std::string& launcherScriptPath,
                                       const std::string& updaterExePath, bool administrative) {
    return windows_commands::createRepeatingTask(everyHoursText, launcherScriptPath, updaterExePath,
                                                 administrative);
}

}  // namespace platform
