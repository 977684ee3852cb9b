// The update manifest: fetched into the data directory, its server list
// fields acted on at once, its offer judged against the installed version.
#include <curl/curl.h>

#include <cstdio>

#include "app/path_utils.h"
#include "app/updater_context.h"
#include "serverlist/server_list.h"
#include "update/version_decision.h"
#include "update/xml_value.h"

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
    // A manifest whose signature does not hold is read as nothing at all: no
    // field of it, the list's included, is acted on.
    if (!releasePublicKey.empty() && !manifestSignatureAccepted(url)) {
        std::remove(joinPath(dataDir, "serverManifest.xml").c_str());
    }
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
    Offer offer;
    if (!manifestRefusal.empty() || !readOffer(appId, predicate, offer)) {
        state = LogLevel::Fatal;
        log("Server manifest file is corrupt", LogLevel::Default, true);
        log(manifestRefusal, LogLevel::Info, true);
        return false;
    }
    installedVersion = versionNumber(readInstalledVersion());
    newVersion = offer.version;
    if (!offersUpdate(offer, installedVersion)) {
        log("Pelorin is up-to-date, no update found on server", LogLevel::Default, true);
        return false;
    }
    log("An updated Pelorin version " + newVersion + " found on server", LogLevel::Default, true);
    updateFound = true;
    return true;
}
