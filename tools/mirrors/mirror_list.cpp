#include "mirrors/mirror_list.h"

#include <cstdio>
#include <set>

#include "platform/platform.h"
#include "serverlist/list_lines.h"

namespace {

class ListFile {
public:
    explicit ListFile(std::FILE* file) : file_(file) {}
    ~ListFile() {
        if (file_) std::fclose(file_);
    }
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;
    std::FILE* get() const { return file_; }

private:
    std::FILE* file_;
};

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
    // Text mode, as the updater reads its own list.
    ListFile file(platform::openFile(path, "r"));
    if (!file.get()) {
        problem = "cannot read the server list \"" + source + "\"";
        return false;
    }
    std::vector<std::string> urls;
    std::string version = "0.0";
    readListLines(file.get(), urls, version);
    std::set<std::string> seen;
    for (const std::string& url : urls) {
        if (seen.insert(url).second) manifestUrls.push_back(url);
    }
    return true;
}
