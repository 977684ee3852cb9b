#include "app/updater_context.h"

#include <exception>

#include "app/path_utils.h"
#include "serverlist/server_list.h"

UpdaterContext::UpdaterContext() {
    initialize();
}

UpdaterContext::~UpdaterContext() {
    // Its two lines are the last of every log that was opened.
    cleanTemporaryFiles(true);
    if (logStream) logStream->close();
    logStream.reset();
    logOpen = false;
    serverList.reset();
}

void UpdaterContext::initialize() {
    openLog();
    state = LogLevel::Info;
    try {
        chooseKeyForm();
        locateInstallation();
        if (state != LogLevel::Fatal) {
            serverList = std::make_unique<ServerList>(joinPath(dataDir, "ServerList.lst"), *this);
            serverList->caBundlePath = caBundlePath;
        }
    } catch (const std::exception& failure) {
        state = LogLevel::Fatal;
        log(failure.what(), LogLevel::Fatal, true);
        log("Insure to run Pelorin Silent Updater with administrator privileges", LogLevel::Tip,
            true);
    }
}
