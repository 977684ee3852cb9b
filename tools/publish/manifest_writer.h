// The text of an update manifest as the updater reads it.
#pragma once

#include <string>
#include <vector>

// A delta file from an earlier release: its size, SHA-1 and SHA-256.
struct DeltaFields {
    std::string fromVersion, url, hash, sha256;
    unsigned long long size = 0;
};

struct ManifestFields {
    std::string version;      // the offered browser version, a decimal number
    std::string packageUrl;   // where the installer package is served
    std::string packageHash;  // its SHA-1, 40 upper-case hexadecimal digits
    // The server list; all three empty when the manifest announces none.
    std::string listVersion;
    std::string listUrl;
    std::string listHash;
    // SHA-256s, 64 lower-case hexadecimal digits, written only when not empty
    // (signed releases); defaulted so that the shorter initializer lists of
    // unsigned manifests stay complete.
    std::string packageSha256 = {};
    std::string listSha256 = {};
    std::vector<DeltaFields> deltas = {};
};

// A whole manifest document offering `fields.version` to every older
// installation. Values are XML-escaped, so the updater's reader gives back
// exactly the texts passed in.
std::string manifestText(const ManifestFields& fields);
