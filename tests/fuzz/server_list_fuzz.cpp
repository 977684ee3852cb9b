// Any ServerList.lst through the line rules: at most the bound of entries, each a manifest URL of
// an accepted scheme.
#include <cstdlib>

#include "serverlist/list_lines.h"
#include "serverlist/server_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.empty()) return 0;
    std::vector<std::string> urls;
    std::string version = "0.0";
    std::FILE* file = fmemopen(&text[0], text.size(), "rb");
    readListLines(file, urls, version);
    std::fclose(file);
    if (urls.size() > ServerList::maxEntries) std::abort();
    for (const std::string& url : urls) {
        const std::string scheme = url.substr(0, url.find("://"));
        if ((scheme != "ftp" && scheme != "sftp" && scheme != "http" && scheme != "https") ||
            url.compare(url.size() - 4, 4, ".xml") != 0)
            std::abort();
    }
    return 0;
}
