// The run's context from its first line to its last: the log opens first,
// discovery finds the installation, the server list loads; at the end the
// temporary files go, and their two lines close every log that was opened.
#include <exception>

#include "app/installation_discovery.h"
#include "core/path_utils.h"
#include "core/updater_context.h"
#include "install/temporary_files.h"
#include "serverlist/server_list.h"

namespace {

void initialize(UpdaterContext& context) {
    context.openLog();
    context.state = LogLevel::Info;
    try {
        chooseKeyForm(context);
        locateInstallation(context);
        if (context.state != LogLevel::Fatal) {
            context.serverList =
                std::make_unique<ServerList>(joinPath(context.dataDir, "ServerList.lst"), context);
        }
    } catch (const std::exception& failure) {
        context.state = LogLevel::Fatal;
        context.log(failure.what(), LogLevel::Fatal, true);
        context.log("Insure to run Pelorin Silent Updater with administrator privileges",
                    LogLevel::Tip, true);
    }
}

}  // namespace

UpdaterContext::UpdaterContext() {
    initialize(*this);
}

UpdaterContext::~UpdaterContext() {
    cleanTemporaryFiles(*this, true);
    if (logStream) logStream->close();
    logStream.reset();
    logOpen = false;
    serverList.reset();
}
