#include "app/command_dispatch.h"

#include <chrono>

#include "app/command_line.h"
#include "core/path_utils.h"
#include "core/updater_context.h"
#include "schedule/scheduled_task.h"
#include "update/update_driver.h"

namespace {

void runTimedUpdate(UpdaterContext& context) {
    const auto start = std::chrono::steady_clock::now();
    context.log("Starting update process..", LogLevel::Info, true);
    runUpdate(context);
    const auto elapsedMilliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count();
    const std::string seconds =
        formatText("%.2f", static_cast<double>(elapsedMilliseconds) / 1000.0);
    context.log("Update process completed in " + seconds + " seconds", LogLevel::Info, true);
}

void logInvalidCommand(UpdaterContext& context, const std::string& text) {
    context.log("Command \"" + text + "\" is invalid", LogLevel::Error, true);
}

bool runInstallCommand(UpdaterContext& context, const std::string& text) {
    const bool administrative = text == "schtask install admin";
    if (!administrative && text != "schtask install nonadmin") return false;
    if (context.state != LogLevel::Fatal) registerScheduledTask(context, administrative);
    return true;
}

bool runUninstallCommand(UpdaterContext& context, const std::string& text) {
    if (text != "schtask uninstall") return false;
    deregisterScheduledTask(context);
    return true;
}

// Five or more words are never a command; the words are joined unnormalised.
std::string joinManyWords(int argc, const char* const argv[]) {
    std::string joined;
    for (int index = 1; index < argc; ++index) joined += std::string(argv[index]) + " ";
    return normalizeCommandText(joined);
}

}  // namespace

bool isUpdateRun(int argc) {
    return argc <= 1;
}

void dispatchCommand(UpdaterContext& context, int argc, const char* const argv[]) {
    if (isUpdateRun(argc)) {
        if (context.state != LogLevel::Fatal) runTimedUpdate(context);
        return;
    }
    std::string text;
    bool recognised = false;
    if (argc == 2) {
        text = argv[1];
        normalizeCommandText(text);
        recognised = runInstallCommand(context, text) || runUninstallCommand(context, text);
    } else if (argc == 3) {
        text = joinCommandWords(3, argv + 1);
        recognised = runUninstallCommand(context, text);
    } else if (argc == 4) {
        text = joinCommandWords(4, argv + 1);
        recognised = runInstallCommand(context, text);
    } else {
        text = joinManyWords(argc, argv);
    }
    if (!recognised) logInvalidCommand(context, text);
}
