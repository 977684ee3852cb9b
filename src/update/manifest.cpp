#include "update/manifest.h"

#include <cstdio>

#include "core/path_utils.h"
#include "core/updater_context.h"
#include "platform/stdio_file.h"
#include "serverlist/server_list.h"
#include "transfer/download.h"
#include "update/manifest_signature.h"
#include "update/version_decision.h"
#include "update/xml_value.h"

namespace {

std::string manifestPath(const UpdaterContext& context) {
    return joinPath(context.dataDir, "serverManifest.xml");
}

// The list's fields of the manifest just fetched; a newer list, or one whose
// hash differs, is fetched on the manifest's handle.
void actOnListFields(UpdaterContext& context, TransferHandle& handle, bool readCodebase) {
    context.log("Reading manifest data from server..", LogLevel::Default, true);
    if (readCodebase) context.packageUrl = readManifestValue(context, "Codebase");
    const std::string listVersionText = readManifestValue(context, "Listversion");
    context.serverListUrl = readManifestValue(context, "Listfile");
    context.serverListHash = readManifestValue(context, "Listhash");
    context.serverListVersion = versionNumber(listVersionText);
    ServerList& list = *context.serverList;
    const bool refreshWanted =
        context.serverListVersion > versionNumber(list.version) ||
        (!context.serverListHash.empty() && list.fileHash() != context.serverListHash);
    if (refreshWanted) {
        context.log("An updated server list file version " + listVersionText + " found on server",
                    LogLevel::Default, true);
        // With a release key the signed manifest's SHA-256 binds the list too.
        const std::string listSha256 = context.releasePublicKey.empty()
                                           ? std::string()
                                           : readManifestValue(context, "Listsha256");
        list.refresh(handle, context.serverListUrl, context.serverListHash, listSha256);
    } else {
        context.log("Server list file is up-to-date", LogLevel::Default, true);
    }
}

}  // namespace

std::string readManifestValue(const UpdaterContext& context, const std::string& elementName) {
    // With a release key only the bytes that were verified count.
    if (!context.releasePublicKey.empty())
        return xmlValueOfText(context.verifiedManifest, elementName);
    return readXmlValue(manifestPath(context), elementName);
}

std::vector<XmlElement> readManifestElements(const UpdaterContext& context,
                                             const std::string& elementName) {
    if (!context.releasePublicKey.empty())
        return xmlElementsOfText(context.verifiedManifest, elementName);
    return readXmlElements(manifestPath(context), elementName);
}

std::string readInstalledVersion(const UpdaterContext& context) {
    return readXmlValue(joinPath(context.applicationDir, "UpdatePelorin.xml"), "Version");
}

bool fetchManifest(UpdaterContext& context, const std::string& url, bool readCodebase,
                   bool lastResort) {
    Download download(context, manifestPath(context), manifestByteLimit);
    if (!download.opened() || !download.run(url)) return false;
    context.log("Connection successfully established to " + urlParent(url), LogLevel::Info, false);
    download.closeFile();
    if (!context.releasePublicKey.empty()) {
        // Read once: the signature is judged over these bytes, and every
        // field is read from them.
        std::string manifest;
        context.verifiedManifest.clear();
        if (!readWholeFile(manifestPath(context), manifest) ||
            !manifestSignatureAccepted(context, download.handle(), url, manifest)) {
            if (context.manifestRefusal.empty())
                context.manifestRefusal = "Manifest signature missing";
            // No field of a refused manifest, the list's included, is acted on.
            std::remove(manifestPath(context).c_str());
            if (!readCodebase || lastResort) return true;  // evaluateManifest ends the run
            // A listed server's refused manifest costs what a failed transfer
            // costs: the next server is asked.
            context.state = LogLevel::Error;
            context.log("Server manifest file is corrupt", LogLevel::Default, true);
            context.log(context.manifestRefusal, LogLevel::Info, true);
            context.manifestRefusal.clear();
            return false;
        }
        context.verifiedManifest = manifest;
    }
    try {
        actOnListFields(context, download.handle(), readCodebase);
    } catch (...) {
        // Whatever was read stands; the manifest itself did arrive.
    }
    return true;
}

bool evaluateManifest(UpdaterContext& context) {
    const std::string appId = readManifestValue(context, "AppId");
    const std::string predicate = readManifestValue(context, "Predicate");
    Offer offer;
    if (!context.manifestRefusal.empty() || !readOffer(appId, predicate, offer)) {
        context.state = LogLevel::Fatal;
        context.log("Server manifest file is corrupt", LogLevel::Default, true);
        context.log(context.manifestRefusal, LogLevel::Info, true);
        return false;
    }
    context.installedVersion = versionNumber(readInstalledVersion(context));
    context.newVersion = offer.version;
    if (!offersUpdate(offer, context.installedVersion)) {
        context.log("Pelorin is up-to-date, no update found on server", LogLevel::Default, true);
        return false;
    }
    context.log("An updated Pelorin version " + context.newVersion + " found on server",
                LogLevel::Default, true);
    context.updateFound = true;
    return true;
}
