#include "publish/list_check.h"

#include <cstdio>
#include <vector>

#include "serverlist/list_lines.h"
#include "update/version_decision.h"

namespace {

// A mirror reached without TLS authenticates nothing: whoever sits on its
// path serves the manifest, and with it the package and its hash.
std::string unauthenticatedProblem(const std::vector<std::string>& urls) {
    std::size_t count = 0;
    std::string first;
    for (const std::string& url : urls) {
        if (url.compare(0, 8, "https://") == 0) continue;
        if (count++ == 0) first = url;
    }
    if (count == 0) return std::string();
    return "the server list names " + std::to_string(count) +
           " server(s) without https, such as the manifest at " + first +
           ": whoever sits on the way to it chooses the package and its hash " +
           "(--allow-unauthenticated-mirrors publishes the list all the same)";
}

}  // namespace

std::string listProblem(const std::string& listPath, const std::string& announcedVersion,
                        bool allowUnauthenticatedMirrors) {
    std::vector<std::string> urls;
    std::string version = "0.0";
    if (!readListFile(listPath, urls, version)) return "cannot read \"" + listPath + "\"";
    // Once in place, the list's own version line is what the updater compares
    // the next manifest's with, so a list that says less would be fetched on
    // every run.
    if (versionNumber(version) != versionNumber(announcedVersion)) {
        return "the server list \"" + listPath + "\" says Version = " + version +
               ", but --list-version is " + announcedVersion;
    }
    if (urls.empty()) {
        return "the server list \"" + listPath + "\" names no server (a line such as " +
               "https://updates.example/): every updater would ask the main server alone";
    }
    return allowUnauthenticatedMirrors ? std::string() : unauthenticatedProblem(urls);
}
