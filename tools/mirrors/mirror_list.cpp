#include "mirrors/mirror_list.h"

#include <cstdio>
#include <set>

#include "serverlist/list_lines.h"

namespace {

bool isHttp(const std::string& url) {
    return url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0;
}

bool fetchList(const std::string& url, const TransferSettings& settings,
               const std::string& workFile, std::string& problem) {
    std::vector<Transfer> transfers(1);
    transfers[0].url = url;
    transfers[0].filePath = workFile;
    transfers[0].byteLimit = serverListByteLimit;
    runTransfers(transfers, settings, [](Transfer&) {});
    const Transfer& list = transfers[0];
    if (!list.succeeded) {
        problem = "cannot fetch the server list " + url + ": " + list.error;
    } else if (isHttp(url) && (list.responseCode < 200 || list.responseCode > 299)) {
        problem =
            "cannot fetch the server list " + url + ": HTTP " + std::to_string(list.responseCode);
    }
    return problem.empty();
}

}  // namespace

bool loadMirrorList(const std::string& source, const TransferSettings& settings,
                    const std::string& workFile, std::vector<std::string>& manifestUrls,
                    std::string& problem) {
    const bool remote = source.find("://") != std::string::npos;
    if (remote && !fetchList(source, settings, workFile, problem)) return false;
    const std::string path = remote ? workFile : source;
    std::vector<std::string> urls;
    std::string version = "0.0";
    if (!readListFile(path, urls, version)) {
        problem = "cannot read the server list \"" + source + "\"";
        return false;
    }
    std::set<std::string> seen;
    for (const std::string& url : urls) {
        if (seen.insert(url).second) manifestUrls.push_back(url);
    }
    return true;
}
