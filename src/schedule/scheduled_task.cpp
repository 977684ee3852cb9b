#include "schedule/scheduled_task.h"

#include <cstdio>

#include "core/path_utils.h"
#include "core/updater_context.h"
#include "log/time_text.h"
#include "platform/platform.h"

namespace {

constexpr int repeatEveryHours = 5;

// The time of a change is logged when it can be read; its absence is only a warning.
void logTimeOf(UpdaterContext& context, const std::string& event) {
    const std::string timeText = currentTimeText();
    if (!timeText.empty()) {
        context.log(event + timeText, LogLevel::Info, true);
    } else {
        context.log("Failed to read system time", LogLevel::Warning, true);
    }
}

}  // namespace

void registerScheduledTask(UpdaterContext& context, bool administrative) {
    // An earlier task of the same name is gone before anything is tested.
    platform::runCommand(platform::commands.deleteTask());
    context.log("Attempting to register scheduler..", LogLevel::Info, true);
    if (!fileExists(context.updaterExePath)) {
        context.log("Pelorin silent updater missing, scheduler failed", LogLevel::Error, true);
        return;
    }
    if (!fileExists(context.launcherScriptPath)) {
        context.log("Batch launcher script missing, scheduler failed", LogLevel::Error, true);
        return;
    }
    const std::string definitionPath =
        joinPath(context.installDir, platform::taskDefinitionFileName);
    const bool definitionPresent = fileExists(definitionPath);
    const std::string createCommand =
        administrative && definitionPresent
            ? platform::commands.createTaskFromDefinition(definitionPath)
            : platform::commands.createRepeatingTask(intToText(repeatEveryHours),
                                                     context.launcherScriptPath,
                                                     context.updaterExePath, administrative);
    if (platform::runCommand(createCommand) != 0) {
        context.log("Failed to register scheduler", LogLevel::Error, true);
    } else {
        logTimeOf(context, "Schedule registered at: ");
        context.log("Scheduler registered successfully", LogLevel::Info, true);
    }
    // The definition is used once, whatever the outcome.
    if (definitionPresent) std::remove(definitionPath.c_str());
}

void deregisterScheduledTask(UpdaterContext& context) {
    context.log("Attempting to de-register scheduler..", LogLevel::Info, true);
    if (platform::runCommand(platform::commands.deleteTask()) != 0) {
        context.log("Failed to de-register scheduler", LogLevel::Error, true);
        return;
    }
    logTimeOf(context, "Schedule de-registered at: ");
    context.log("Scheduler de-registered successfully", LogLevel::Default, true);
}
