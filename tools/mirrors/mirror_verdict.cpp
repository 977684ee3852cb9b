#include "mirrors/mirror_verdict.h"

#include "update/version_decision.h"
#include "update/xml_value.h"

namespace {

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string corruptionReason(const ManifestValues& mirror) {
    if (mirror.appId.empty() && mirror.predicate.empty()) return "not an update manifest";
    if (mirror.appId != "com.halvornesys.pelorin") {
        return "corrupt manifest: AppId " + quoted(mirror.appId);
    }
    return "corrupt manifest: Predicate " + quoted(mirror.predicate) + " has no '<' or '>'";
}

// A client the one manifest updated to its offer, would the other offer it
// an update? That is how far apart the updater sees them. True when both
// offer the same version, to the same installations.
bool judgeOffers(const Offer& main, const Offer& mirror, MirrorVerdict& verdict) {
    if (offersUpdate(main, versionNumber(mirror.version))) {
        addFinding(verdict, MirrorClass::Stale,
                   "offers " + mirror.version + ", the main server " + main.version);
    } else if (offersUpdate(mirror, versionNumber(main.version))) {
        addFinding(verdict, MirrorClass::Different,
                   "offers " + mirror.version + ", newer than the main server's " + main.version);
    } else if (mirror.lessThan != main.lessThan) {
        addFinding(verdict, MirrorClass::Different,
                   std::string("offers to ") + (mirror.lessThan ? "older" : "newer") +
                       " installations, the main server to " + (main.lessThan ? "older" : "newer"));
    } else {
        return true;
    }
    return false;
}

void judgeText(const char* name, const std::string& main, const std::string& mirror,
               MirrorVerdict& verdict) {
    if (mirror == main) return;
    addFinding(verdict, MirrorClass::Different,
               std::string(name) + " " + quoted(mirror) + ", the main server's " + quoted(main));
}

// An older list is stale; at the same list version, another hash is another list.
void judgeList(const ManifestValues& main, const ManifestValues& mirror, MirrorVerdict& verdict) {
    const float mainNumber = versionNumber(main.listVersion);
    const float mirrorNumber = versionNumber(mirror.listVersion);
    if (mirrorNumber == mainNumber) {
        judgeText("Listhash", main.listHash, mirror.listHash, verdict);
        return;
    }
    addFinding(verdict, mirrorNumber < mainNumber ? MirrorClass::Stale : MirrorClass::Different,
               "server list " + quoted(mirror.listVersion) + ", the main server's " +
                   quoted(main.listVersion));
}

}  // namespace

ManifestValues readManifestValues(const std::string& path) {
    ManifestValues values;
    values.appId = readXmlValue(path, "AppId");
    values.predicate = readXmlValue(path, "Predicate");
    values.codebase = readXmlValue(path, "Codebase");
    values.hash = readXmlValue(path, "Hash");
    values.listVersion = readXmlValue(path, "Listversion");
    values.listHash = readXmlValue(path, "Listhash");
    return values;
}

const char* mirrorClassName(MirrorClass mirrorClass) {
    switch (mirrorClass) {
        case MirrorClass::Broken:
            return "broken";
        case MirrorClass::Different:
            return "different";
        case MirrorClass::Stale:
            return "stale";
        case MirrorClass::Current:
            break;
    }
    return "current";
}

void addFinding(MirrorVerdict& verdict, MirrorClass found, const std::string& reason) {
    if (found < verdict.mirrorClass) verdict.mirrorClass = found;
    if (!verdict.reason.empty()) verdict.reason += "; ";
    verdict.reason += reason;
}

MirrorVerdict judgeManifest(const ManifestValues& main, const ManifestValues& mirror) {
    MirrorVerdict verdict;
    Offer mainOffer;
    Offer mirrorOffer;
    readOffer(main.appId, main.predicate, mainOffer);
    if (!readOffer(mirror.appId, mirror.predicate, mirrorOffer)) {
        addFinding(verdict, MirrorClass::Broken, corruptionReason(mirror));
        return verdict;
    }
    // Another release has another package: only the same one is compared.
    if (judgeOffers(mainOffer, mirrorOffer, verdict)) {
        judgeText("Codebase", main.codebase, mirror.codebase, verdict);
        judgeText("Hash", main.hash, mirror.hash, verdict);
    }
    judgeList(main, mirror, verdict);
    return verdict;
}
