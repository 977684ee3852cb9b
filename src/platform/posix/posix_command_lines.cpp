// The POSIX stand-ins for the Windows command lines.
#include "platform/platform.h"
#include "platform/posix/posix_commands.h"
#include "platform/posix/posix_task_commands.h"

namespace platform {

std::string adminUnpackCommand(const std::string& packagePath, const std::string& targetDir) {
    return posix_commands::adminUnpack(packagePath, targetDir);
}

std::string removeTreeCommand(const std::string& path) {
    return posix_commands::removeTree(path);
}

std::string copyAndCleanCommand(const std::string& unpackedTree, const std::string& destinationDir,
                                const std::string& stagingTree) {
    return posix_commands::copyAndClean(unpackedTree, destinationDir, stagingTree);
}

}  // namespace platform

namespace platform {

std::string deleteTaskCommand() {
    return posix_task_commands::deleteTask();
}

std::string createTaskFromDefinitionCommand(const std::string& definitionPath) {
    return posix_task_commands::createTaskFromDefinition(definitionPath);
}

std::string createRepeatingTaskCommand(const std::string& everyHoursText,
                                       const std::string& launcherScriptPath,
                                       const std::string& updaterExePath, bool administrative) {
    return posix_task_commands::createRepeatingTask(everyHoursText, launcherScriptPath,
                                                    updaterExePath, administrative);
}

}  // namespace platform
