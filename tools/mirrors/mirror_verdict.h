// How a mirror's manifest compares with the main server's, judged by the
// updater's own version decision: what a client that draws the mirror gets
// that a client of the main server does not.
#pragma once

#include <string>

// The values of one manifest, as the updater reads them.
struct ManifestValues {
    std::string appId;
    std::string predicate;
    std::string codebase;
    std::string hash;
    std::string listVersion;
    std::string listHash;
};

// Reads every value from the manifest file at `path`; all empty when it is no
// manifest at all.
ManifestValues readManifestValues(const std::string& path);

// Worst first, so that the order of the values is the order of a report.
enum class MirrorClass {
    Broken,     // unreachable, refused, or what it serves is no usable manifest or package
    Different,  // the same version with another package or hash, or ahead of the main server
    Stale,      // an older version or an older server list
    Current,    // what the main server offers
};

const char* mirrorClassName(MirrorClass mirrorClass);

struct MirrorVerdict {
    MirrorClass mirrorClass = MirrorClass::Current;
    std::string reason;  // every difference found, "; " between them; empty when current
};

// Compares `mirror` with `main`, which must be a manifest the updater accepts.
// A corrupt mirror manifest is Broken; otherwise the worst difference decides:
// in the offered version, then (the same version offered) in Codebase and
// Hash, and in Listversion, then (the same list version) in Listhash.
MirrorVerdict judgeManifest(const ManifestValues& main, const ManifestValues& mirror);

// Adds a finding of class `found`: the verdict takes the worse class, and the
// reason grows by `reason`.
void addFinding(MirrorVerdict& verdict, MirrorClass found, const std::string& reason);
