// The update run: from a clean start to the installed files.
#include "app/updater_context.h"
#include "serverlist/server_list.h"

namespace {

const char* const mainManifestUrl = PELORIN_MAIN_MANIFEST_URL;

}  // namespace

void UpdaterContext::runUpdate() {
    if (state == LogLevel::Fatal) {
        log("Failed to recover from previous fatal error, exiting", LogLevel::Fatal, true);
        return;
    }
    if (!recoverInterruptedInstall()) return;
    cleanTemporaryFiles(false);
    state = LogLevel::Info;
    bool manifestRead = false;
    for (std::size_t index = 0; serverList && index < serverList->urls.size(); ++index) {
        if (state == LogLevel::Fatal) {
            log("Update failed", LogLevel::Default, true);
            return;
        }
        // A copy: a refresh during the fetch rebuilds the list.
        const std::string url = serverList->urls[index];
        if (!fetchManifest(url, true)) continue;
        log("Manifest data read successfully", LogLevel::Default, true);
        if (serverListUrl.empty()) {
            log("Couldn't read server list info, attempting from main server", LogLevel::Default,
                true);
            fetchManifest(mainManifestUrl, false);
        }
        manifestRead = true;
        break;
    }
    if (!manifestRead && !fetchManifest(mainManifestUrl, true)) {
        state = LogLevel::Fatal;
        log("Update failed", LogLevel::Default, true);
        return;
    }
    if (!evaluateManifest()) return;
    if (!downloadPackage(packageUrl)) {
        state = LogLevel::Fatal;
        log("Failed to download update", LogLevel::Default, true);
        return;
    }
    log("Download completed successfully", LogLevel::Default, true);
    if (!validatePackage()) {
        state = LogLevel::Fatal;
        return;
    }
    installPackage();
}
