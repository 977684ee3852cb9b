#include "platform/win32/windows_commands.h"

namespace {

std::string adminUnpack(const std::string& packagePath, const std::string& targetDir) {
    return "msiexec.exe /a \"" + packagePath + "\" TARGETDIR=\"" + targetDir + "\" /quiet ";
}

std::string removeTree(const std::string& path) {
    return "rmdir /Q /S \"" + path + "\"";
}

// "&&": the staging tree is removed only after xcopy succeeded, so a failed
// copy leaves it in place for the updater to see.
std::string copyAndClean(const std::string& unpackedTree, const std::string& destinationDir,
                         const std::string& stagingTree) {
    return "cmd.exe /C xcopy \"" + unpackedTree + "\" \"" + destinationDir + "\\" +
           "\" /y /e /h /i /q" + " && rmdir /Q /S \"" + stagingTree + "\"";
}

std::string deleteTask() {
    return "schtasks /delete /tn PelorinUpdateTask /F ";
}

std::string createTaskFromDefinition(const std::string& definitionPath) {
    return "schtasks /Create /xml \"" + definitionPath + "\"" + " /TN \"PelorinUpdateTask\"";
}

// Inside the /TR value the inner quotes are escaped with a backslash, as
// schtasks expects, so the action is wscript with two quoted arguments.
std::string createRepeatingTask(const std::string& everyHoursText,
                                const std::string& launcherScriptPath,
                                const std::string& updaterExePath, bool administrative) {
    std::string command = "schtasks /Create /SC HOURLY /MO " + everyHoursText +
                          " /TN PelorinUpdateTask /TR  \"wscript \\\"" + launcherScriptPath +
                          "\\\" \\\"" + updaterExePath + "\\\"\"";
    if (administrative) command += " /RL Highest /RU System";
    return command;
}

}  // namespace

namespace platform {

// constexpr: the compiler fills the table in, so it is whole before any
// constructor of a static object runs.
constexpr CommandBuilders windowsCommands = {
    adminUnpack,        removeTree, copyAndClean, deleteTask, createTaskFromDefinition,
    createRepeatingTask};

}  // namespace platform
