#include "update/delta_update.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/release_paths.h"
#include "core/updater_context.h"
#include "install/delta_apply.h"
#include "install/package_installer.h"
#include "transfer/file_hash.h"
#include "transfer/file_sha256.h"
#include "transfer/package_download.h"
#include "update/manifest.h"
#include "update/version_decision.h"

namespace {

struct DeltaOffer {
    std::string from, url, hash, sha256;
    unsigned long long size = 0;
};

std::string attributeOf(const XmlElement& element, const std::string& name) {
    const auto found = element.attributes.find(name);
    return found == element.attributes.end() ? std::string() : found->second;
}

// Decimal digits only; 0 for anything else, which no delta is.
unsigned long long sizeOf(const std::string& text) {
    if (text.empty() || text.size() > 19) return 0;
    unsigned long long size = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        size = size * 10 + static_cast<unsigned long long>(c - '0');
    }
    return size;
}

// The first delta from the installed version with every field given.
bool offerFor(const UpdaterContext& context, DeltaOffer& offer) {
    for (const XmlElement& element : readManifestElements(context, "Delta")) {
        offer = {attributeOf(element, "from"), element.text, attributeOf(element, "hash"),
                 attributeOf(element, "sha256"), sizeOf(attributeOf(element, "size"))};
        if (!offer.from.empty() && versionNumber(offer.from) == context.installedVersion &&
            !offer.url.empty() && !offer.hash.empty() && !offer.sha256.empty() && offer.size)
            return true;
    }
    return false;
}

bool fallBack(UpdaterContext& context, const std::string& why) {
    std::remove(downloadedDeltaPath(context.installDir).c_str());
    context.log(why, LogLevel::Info, true);
    return false;
}

}  // namespace

bool updateFromDelta(UpdaterContext& context) {
    if (readManifestElements(context, "Delta").empty()) return false;
    DeltaOffer offer;
    if (!offerFor(context, offer))
        return fallBack(context,
                        "Delta update not offered for the installed version, downloading the "
                        "full package");
    context.log("Delta update from version " + offer.from + " found on server", LogLevel::Default,
                true);
    if (!downloadDelta(context, offer.url, offer.hash, offer.size))
        return fallBack(context, "Delta update not downloaded, downloading the full package");
    context.log("Download completed successfully", LogLevel::Default, true);
    const std::string delta = downloadedDeltaPath(context.installDir);
    if (!fileMatchesHash(delta, offer.hash) || fileSha256Hex(delta) != offer.sha256)
        return fallBack(context,
                        "Delta update failed its hash check, downloading the full package");
    const std::string problem = applyDelta(context, delta);
    if (!problem.empty()) return fallBack(context, problem);
    std::remove(delta.c_str());
    context.log("Delta update applied successfully", LogLevel::Default, true);
    installStagedTree(context);
    return true;
}
