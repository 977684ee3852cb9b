// The update manifest: fetched into the data directory, its server list
// fields acted on at once, its offer judged against the installed version.
#include <curl/curl.h>

#include <cstdlib>

#include "app/path_utils.h"
#include "app/updater_context.h"
#include "serverlist/server_list.h"
#include "update/xml_value.h"

namespace {

// Versions compare as decimal fractions held in 32-bit floats: "2.10" is 2.1.
float versionNumber(const std::string& text) {
    return static_cast<float>(std::atof(text.c_str()));
}

std::string withoutOuterSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string UpdaterContext::readManifestValue(const std::string& elementName) {
    return readXmlValue(joinPath(dataDir, "serverManifest.xml"), elementName);
}

std::string UpdaterContext::readInstalledVersion() {
    return readXmlValue(joinPath(applicationDir, "UpdatePelorin.xml"), "Version");
}

bool UpdaterContext::fetchManifest(const std::string& url, bool readCodebase) {
    if (!openTransfer(url, joinPath(dataDir, "serverManifest.xml"), manifestByteLimit)) {
        return false;
    }
    if (!runTransfer(url)) return false;
    log("Connection successfully established to " + urlParent(url), LogLevel::Info, false);
    std::fclose(downloadFile);
    downloadFile = nullptr;
    try {
        log("Reading manifest data from server..", LogLevel::Default, true);
        if (readCodebase) packageUrl = readManifestValue("Codebase");
        const std::string listVersionText = readManifestValue("Listversion");
        serverListUrl = readManifestValue("Listfile");
        serverListHash = readManifestValue("Listhash");
        serverListVersion = versionNumber(listVersionText);
        const bool refreshWanted =
            serverListVersion > versionNumber(serverList->version) ||
            (!serverListHash.empty() && serverList->fileHash() != serverListHash);
        if (refreshWanted) {
            log("An updated server list file version " + listVersionText + " found on server",
                LogLevel::Default, true);
            serverList->refresh(curl, serverListUrl, serverListHash);
        } else {
            log("Server list file is up-to-date", LogLevel::Default, true);
        }
    } catch (...) {
        // Whatever was read stands; the manifest itself did arrive.
    }
    curl_easy_cleanup(curl);
    curl = nullptr;
    return true;
}

bool UpdaterContext::evaluateManifest() {
    const std::string appId = readManifestValue("AppId");
    const std::string predicate = readManifestValue("Predicate");
    std::size_t operatorPosition = predicate.rfind('<');
    const bool lessThan = operatorPosition != std::string::npos;
    if (!lessThan) operatorPosition = predicate.rfind('>');
    if (appId != "com.halvornesys.pelorin" || operatorPosition == std::string::npos) {
        state = LogLevel::Fatal;
        log("Server manifest file is corrupt", LogLevel::Default, true);
        return false;
    }
    installedVersion = versionNumber(readInstalledVersion());
    newVersion = withoutOuterSpaces(predicate.substr(operatorPosition + 1));
    const float offeredVersion = versionNumber(newVersion);
    const bool offered =
        lessThan ? offeredVersion > installedVersion : installedVersion > offeredVersion;
    if (!offered) {
        log("Pelorin is up-to-date, no update found on server", LogLevel::Default, true);
        return false;
    }
    log("An updated Pelorin version " + newVersion + " found on server", LogLevel::Default, true);
    updateFound = true;
    return true;
}
