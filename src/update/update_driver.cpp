#include "update/update_driver.h"

#include "core/updater_context.h"
#include "install/package_installer.h"
#include "install/temporary_files.h"
#include "serverlist/server_list.h"
#include "transfer/package_download.h"
#include "update/delta_update.h"
#include "update/manifest.h"
#include "update/package_validation.h"

namespace {

const char* const mainManifestUrl = PELORIN_MAIN_MANIFEST_URL;

}  // namespace

void runUpdate(UpdaterContext& context) {
    if (context.state == LogLevel::Fatal) {
        context.log("Failed to recover from previous fatal error, exiting", LogLevel::Fatal, true);
        return;
    }
    if (!recoverInterruptedInstall(context)) return;
    cleanTemporaryFiles(context, false);
    context.state = LogLevel::Info;
    bool manifestRead = false;
    for (std::size_t index = 0; context.serverList && index < context.serverList->urls.size();
         ++index) {
        if (context.state == LogLevel::Fatal) {
            context.log("Update failed", LogLevel::Default, true);
            return;
        }
        // A copy: a refresh during the fetch rebuilds the list.
        const std::string url = context.serverList->urls[index];
        if (!fetchManifest(context, url, true)) continue;
        context.log("Manifest data read successfully", LogLevel::Default, true);
        if (context.serverListUrl.empty()) {
            context.log("Couldn't read server list info, attempting from main server",
                        LogLevel::Default, true);
            fetchManifest(context, mainManifestUrl, false);
        }
        manifestRead = true;
        break;
    }
    if (!manifestRead && !fetchManifest(context, mainManifestUrl, true, true)) {
        context.state = LogLevel::Fatal;
        context.log("Update failed", LogLevel::Default, true);
        return;
    }
    if (!evaluateManifest(context)) return;
    if (updateFromDelta(context)) return;
    if (!downloadPackage(context, context.packageUrl, readManifestValue(context, "Hash"))) {
        context.state = LogLevel::Fatal;
        context.log("Failed to download update", LogLevel::Default, true);
        return;
    }
    context.log("Download completed successfully", LogLevel::Default, true);
    if (!validatePackage(context)) {
        context.state = LogLevel::Fatal;
        return;
    }
    installPackage(context);
}
