// ServerList.lst, whatever it holds, through the load the updater runs at
// start: every URL kept has an accepted scheme and names a manifest, no more
// than the bound are kept, the shuffle only reorders what the line rules
// accepted, and the version is "0.0" or a value as the key rule leaves it.
//
// An input of at most 32 bytes that begins with the comment line "#repeat N"
// stands for a file of that line and the rest of the input N times over, so
// that small inputs reach the entry bound. The file stays under 320 KiB, room
// for the shortest entries ("ftp://ab" and a line end) beyond the bound; each
// such input takes a tenth of a second, so larger ones would only slow the
// search.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fuzz/fuzz_installation.h"
#include "serverlist/list_lines.h"
#include "serverlist/server_list.h"

namespace {

constexpr std::size_t largestListFile = 320u << 10;

std::string listFileBytes(const std::string& input) {
    const std::string marker = "#repeat ";
    const std::size_t lineEnd = input.find('\n');
    if (input.size() > 32 || input.compare(0, marker.size(), marker) != 0 ||
        lineEnd == std::string::npos) {
        return input;
    }
    const std::size_t count = std::strtoul(input.c_str() + marker.size(), nullptr, 10);
    const std::string body = input.substr(lineEnd + 1);
    std::string file = input.substr(0, lineEnd + 1);
    for (std::size_t copy = 0; copy < count && file.size() + body.size() <= largestListFile;
         ++copy) {
        file += body;
        if (body.empty()) break;
    }
    return file;
}

bool isManifestUrl(const std::string& url) {
    bool schemeAccepted = false;
    for (const char* scheme : {"ftp://", "sftp://", "http://", "https://"}) {
        if (url.rfind(scheme, 0) == 0) schemeAccepted = true;
    }
    return schemeAccepted && url.size() >= 8 && url.compare(url.size() - 4, 4, ".xml") == 0;
}

bool isKeptVersion(const std::string& version) {
    if (version == "0.0") return true;
    return !version.empty() && version.front() != ' ' && version.back() != ' ' &&
           std::none_of(version.begin(), version.end(),
                        [](char c) { return c >= 'A' && c <= 'Z'; });
}

// The entries in file order, as the line rules give them before any shuffle.
std::vector<std::string> entriesInFileOrder(const std::string& path, std::string& version) {
    std::vector<std::string> urls;
    version = "0.0";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    require(file != nullptr, "the list file could not be read back");
    readListLines(file, urls, version);
    std::fclose(file);
    return urls;
}

// Compared as multisets through their hashes: sorting tens of thousands of
// URLs under the sanitizers would cost most of the run.
std::vector<std::size_t> hashesSorted(const std::vector<std::string>& urls) {
    std::vector<std::size_t> hashes;
    hashes.reserve(urls.size());
    for (const std::string& url : urls) hashes.push_back(std::hash<std::string>()(url));
    std::sort(hashes.begin(), hashes.end());
    return hashes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ServerList& list = *fuzzContext().serverList;
    writeBytes(list.path, listFileBytes(std::string(reinterpret_cast<const char*>(data), size)));
    list.load();

    require(list.urls.size() <= ServerList::maxEntries, "more entries than the bound");
    for (const std::string& url : list.urls) {
        require(isManifestUrl(url), "a kept URL is no manifest URL of an accepted scheme");
    }
    require(isKeptVersion(list.version), "the version is not as the key rule leaves it");

    std::string versionInFileOrder;
    const std::vector<std::string> inFileOrder = entriesInFileOrder(list.path, versionInFileOrder);
    require(versionInFileOrder == list.version,
            "the load and the line rules differ on the version");
    require(hashesSorted(list.urls) == hashesSorted(inFileOrder),
            "the shuffle is no permutation of the accepted entries");
    return 0;
}
