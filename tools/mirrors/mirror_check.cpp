#include "mirrors/mirror_check.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "transfer/file_hash.h"
#include "update/release_signature.h"
#include "update/version_decision.h"

namespace {

struct FetchedManifest {
    bool fetched = false;
    std::string problem;  // why there is no usable manifest
    double seconds = 0;
    ManifestValues values;
    std::string bytes;  // with a release key: the manifest as served
    bool signatureFetched = false;
    std::string signature;
};

std::string wholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string inDirectory(const std::string& directory, const std::string& name) {
    return directory + platform::pathSeparator + name;
}

bool isHttp(const std::string& url) {
    return url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0;
}

// Like the updater, a manifest's status is not looked at, only its body; the
// status explains a body that is no manifest.
std::string statusNote(const Transfer& transfer) {
    if (!isHttp(transfer.url) || transfer.responseCode == 200) return std::string();
    return " (HTTP " + std::to_string(transfer.responseCode) + ")";
}

// Manifest 0 is the main server's; each file is read and removed as it ends.
// With a release key, each manifest's signature follows, in the same batch.
std::vector<FetchedManifest> fetchManifests(const MirrorCheckInput& input,
                                            const std::string& workDir,
                                            const CheckProgress& progress) {
    const std::size_t count = input.mirrorManifestUrls.size() + 1;
    std::vector<Transfer> transfers(input.releaseKey.empty() ? count : 2 * count);
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        const std::size_t of = i % count;
        const bool signature = i >= count;
        transfers[i].url = (of == 0 ? input.mainManifestUrl : input.mirrorManifestUrls[of - 1]) +
                           (signature ? ".sig" : "");
        transfers[i].filePath = inDirectory(
            workDir, "manifest-" + std::to_string(of) + (signature ? ".xml.sig" : ".xml"));
        transfers[i].byteLimit = signature ? releaseSignatureByteLimit : manifestByteLimit;
    }
    std::vector<FetchedManifest> manifests(count);
    std::size_t done = 0;
    runTransfers(transfers, input.settings, [&](Transfer& transfer) {
        const std::size_t index = static_cast<std::size_t>(&transfer - &transfers[0]);
        FetchedManifest& manifest = manifests[index % count];
        if (index >= count) {
            manifest.signatureFetched = transfer.succeeded;
            if (transfer.succeeded) manifest.signature = wholeFile(transfer.filePath);
            std::remove(transfer.filePath.c_str());
            progress("manifests", ++done, transfers.size());
            return;
        }
        if (!input.releaseKey.empty()) manifest.bytes = wholeFile(transfer.filePath);
        manifest.seconds = transfer.seconds;
        manifest.fetched = transfer.succeeded;
        if (transfer.succeeded) {
            manifest.values = readManifestValues(transfer.filePath);
            manifest.problem = statusNote(transfer);
        } else {
            manifest.problem = transfer.error;
        }
        std::remove(transfer.filePath.c_str());
        progress("manifests", ++done, transfers.size());
    });
    return manifests;
}

void takePackageResult(const Transfer& transfer, bool full, PackageCheck& package) {
    package.seconds = transfer.seconds;
    package.bytes = full ? static_cast<long long>(transfer.receivedBytes) : transfer.announcedBytes;
    if (!transfer.succeeded) {
        package.problem = transfer.error;
    } else if (isHttp(transfer.url) &&
               (transfer.responseCode < 200 || transfer.responseCode > 299)) {
        package.problem = "HTTP " + std::to_string(transfer.responseCode);
    } else if (full) {
        package.sha1 = hashFileToHex(transfer.filePath);
        if (package.sha1.empty()) package.problem = "cannot read the downloaded package";
    }
}

// Each package URL once: a full check downloads it (into the tool's directory,
// capped as the updater caps it) and hashes it, else its headers are asked for.
void checkPackages(const MirrorCheckInput& input, const std::string& workDir,
                   std::map<std::string, PackageCheck>& packages, const CheckProgress& progress) {
    const unsigned long long byteLimit =
        input.full ? std::min(packageByteLimit, freeBytesOr(workDir, packageByteLimit))
                   : packageByteLimit;
    std::vector<Transfer> transfers;
    for (const auto& entry : packages) {
        Transfer transfer;
        transfer.url = entry.first;
        if (input.full) {
            transfer.filePath = inDirectory(workDir, "package-" + std::to_string(transfers.size()));
        }
        transfer.byteLimit = byteLimit;
        transfers.push_back(transfer);
    }
    std::size_t done = 0;
    runTransfers(transfers, input.settings, [&](Transfer& transfer) {
        takePackageResult(transfer, input.full, packages[transfer.url]);
        if (!transfer.filePath.empty()) std::remove(transfer.filePath.c_str());
        progress("packages", ++done, transfers.size());
    });
    for (auto& entry : packages) entry.second.url = entry.first;
}

// The release as the updater with `key` judges it, no serial accepted yet.
SignatureVerdict judgeSignature(const std::string& key, const FetchedManifest& manifest,
                                unsigned long long acceptedSerial, ReleaseSignature& signature) {
    return judgeRelease(key, manifest.bytes, manifest.signatureFetched, manifest.signature,
                        static_cast<long long>(std::time(nullptr)),
                        AcceptedRelease{acceptedSerial, ""}, signature);
}

void addSignatureFinding(const std::string& key, const FetchedManifest& manifest,
                         unsigned long long mainSerial, MirrorVerdict& verdict) {
    ReleaseSignature signature;
    switch (judgeSignature(key, manifest, mainSerial, signature)) {
        case SignatureVerdict::Missing:
            return addFinding(verdict, MirrorClass::Broken, "signature missing");
        case SignatureVerdict::NotInFormat:
            return addFinding(verdict, MirrorClass::Broken, "signature not in the format");
        case SignatureVerdict::NotVerified:
            return addFinding(verdict, MirrorClass::Broken, "signature does not verify");
        case SignatureVerdict::Expired:
            return addFinding(verdict, MirrorClass::Broken,
                              "signature expired " + signature.expires);
        case SignatureVerdict::Older:
            return addFinding(verdict, MirrorClass::Stale,
                              "release serial " + std::to_string(signature.serial) +
                                  ", the main server's " + std::to_string(mainSerial));
        case SignatureVerdict::OtherManifest:  // never: no manifest hash is given
        case SignatureVerdict::Accepted:
            break;
    }
}

MirrorResult judgeMirror(const std::string& url, const FetchedManifest& manifest,
                         const ManifestValues& main, const std::string& key,
                         unsigned long long mainSerial) {
    MirrorResult result;
    result.manifestUrl = url;
    result.seconds = manifest.seconds;
    if (!manifest.fetched) {
        addFinding(result.verdict, MirrorClass::Broken, manifest.problem);
        return result;
    }
    result.verdict = judgeManifest(main, manifest.values);
    if (!key.empty()) addSignatureFinding(key, manifest, mainSerial, result.verdict);
    if (result.verdict.mirrorClass == MirrorClass::Broken) {
        result.verdict.reason += manifest.problem;
        return result;
    }
    Offer offer;
    readOffer(manifest.values.appId, manifest.values.predicate, offer);
    result.offeredVersion = offer.version;
    return result;
}

// What a client drawing the mirror would meet at its package.
void judgePackage(const PackageCheck& package, const std::string& manifestHash, bool full,
                  MirrorVerdict& verdict) {
    if (!package.problem.empty()) {
        addFinding(verdict, MirrorClass::Broken, "package: " + package.problem);
    } else if (full && package.sha1 != manifestHash) {
        addFinding(
            verdict, MirrorClass::Broken,
            "package SHA-1 " + package.sha1 + ", the manifest's Hash \"" + manifestHash + "\"");
    }
}

bool worseFirst(const MirrorResult& a, const MirrorResult& b) {
    if (a.verdict.mirrorClass != b.verdict.mirrorClass) {
        return a.verdict.mirrorClass < b.verdict.mirrorClass;
    }
    return a.seconds > b.seconds;
}

bool takeMain(const FetchedManifest& manifest, const std::string& key, MirrorReport& report,
              unsigned long long& serial, std::string& problem) {
    const std::string name = "the main server's manifest " + report.mainManifestUrl;
    if (!manifest.fetched) {
        problem = name + ": " + manifest.problem;
        return false;
    }
    Offer offer;
    if (!readOffer(manifest.values.appId, manifest.values.predicate, offer)) {
        problem = name + " is not one the updater accepts" + manifest.problem;
        return false;
    }
    ReleaseSignature signature;
    if (!key.empty() && judgeSignature(key, manifest, 0, signature) != SignatureVerdict::Accepted) {
        problem = name + ": its signature is missing, does not verify with the key, or expired";
        return false;
    }
    serial = signature.serial;
    report.main = manifest.values;
    report.mainVersion = offer.version;
    report.mainSeconds = manifest.seconds;
    return true;
}

}  // namespace

bool checkMirrors(const MirrorCheckInput& input, const std::string& workDir, MirrorReport& report,
                  std::string& problem, const CheckProgress& progress) {
    report.mainManifestUrl = input.mainManifestUrl;
    report.full = input.full;
    const std::vector<FetchedManifest> manifests = fetchManifests(input, workDir, progress);
    unsigned long long mainSerial = 0;
    if (!takeMain(manifests[0], input.releaseKey, report, mainSerial, problem)) return false;
    for (std::size_t i = 1; i < manifests.size(); ++i) {
        report.mirrors.push_back(judgeMirror(input.mirrorManifestUrls[i - 1], manifests[i],
                                             report.main, input.releaseKey, mainSerial));
        const MirrorResult& mirror = report.mirrors.back();
        const std::string& codebase = manifests[i].values.codebase;
        if (mirror.verdict.mirrorClass != MirrorClass::Broken && !codebase.empty()) {
            report.packages[codebase];
        }
    }
    if (!report.main.codebase.empty()) report.packages[report.main.codebase];
    checkPackages(input, workDir, report.packages, progress);
    for (std::size_t i = 0; i < report.mirrors.size(); ++i) {
        MirrorResult& mirror = report.mirrors[i];
        const auto package = report.packages.find(manifests[i + 1].values.codebase);
        if (mirror.verdict.mirrorClass == MirrorClass::Broken || package == report.packages.end()) {
            continue;
        }
        mirror.package = &package->second;
        judgePackage(package->second, manifests[i + 1].values.hash, input.full, mirror.verdict);
    }
    const auto mainPackage = report.packages.find(report.main.codebase);
    if (mainPackage != report.packages.end()) report.mainPackage = &mainPackage->second;
    std::stable_sort(report.mirrors.begin(), report.mirrors.end(), worseFirst);
    return true;
}
