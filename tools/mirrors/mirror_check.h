// Checks every mirror against the main server: manifests first, all at once,
// then each package they name once.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mirrors/mirror_verdict.h"
#include "mirrors/parallel_transfers.h"

struct MirrorCheckInput {
    std::vector<std::string> mirrorManifestUrls;
    std::string mainManifestUrl;
    TransferSettings settings;
    bool full = false;  // download each package and verify its SHA-1, not just its headers
    // With the release key (64 hexadecimal digits), each manifest's signature
    // is checked as the updater built with that key checks it.
    std::string releaseKey;
};

// One package URL, checked once however many manifests name it.
struct PackageCheck {
    std::string url;
    std::string problem;   // empty when the package is there
    long long bytes = -1;  // announced, or received with a full check; -1 unknown
    double seconds = 0;
    std::string sha1;  // full check: the SHA-1 text of the bytes received
};

struct MirrorResult {
    std::string manifestUrl;
    MirrorVerdict verdict;
    double seconds = 0;  // the manifest's transfer
    std::string offeredVersion;
    const PackageCheck* package = nullptr;  // none when the manifest was unusable
};

struct MirrorReport {
    std::string mainManifestUrl;
    ManifestValues main;
    std::string mainVersion;
    double mainSeconds = 0;
    const PackageCheck* mainPackage = nullptr;
    std::vector<MirrorResult> mirrors;             // worst first, the slowest first within a class
    std::map<std::string, PackageCheck> packages;  // by URL
    bool full = false;
};

// Called as transfers end: the phase ("manifests", "packages") and how far it is.
using CheckProgress = std::function<void(const char* phase, std::size_t done, std::size_t total)>;

// Fills `report`. False with `problem` set when the main server's manifest
// cannot be fetched or is not one the updater accepts: then there is nothing
// to compare with. `workDir` holds the fetched files while they are read.
bool checkMirrors(const MirrorCheckInput& input, const std::string& workDir, MirrorReport& report,
                  std::string& problem, const CheckProgress& progress);
