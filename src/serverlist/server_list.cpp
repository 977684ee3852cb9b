// Loading ServerList.lst: the default file when there is none, the line
// rules, and a fresh random order at every load.
#include "serverlist/server_list.h"

#include <cstdio>
#include <stdexcept>

#include "platform/platform.h"
#include "platform/stdio_file.h"
#include "serverlist/list_lines.h"
#include "serverlist/shuffle.h"
#include "transfer/file_hash.h"

namespace {

// Text mode: each line end reaches the disk as the platform writes it, CR LF
// on Windows (173 bytes), LF elsewhere (167 bytes). Write errors go unseen;
// the file is read back at once.
bool writeDefaultFile(const std::string& path) {
    StdioFile file(path, "w");
    if (!file) return false;
    std::fputs(
        "# all items should start with a new line items may\n"
        "# contain space at beginning and end, urls should\n"
        "# start with http://, https://, sftp:// or ftp://\n"
        "\n"
        "Version = 1.0\n"
        "\n",
        file.get());
    return true;
}

// The list file open for reading, the default one written first when there
// is none.
std::FILE* openListFile(const std::string& path) {
    if (std::FILE* file = platform::openFile(path, "r")) return file;
    if (!writeDefaultFile(path)) {
        throw std::runtime_error("Server list file missing, attempt to create failed");
    }
    std::FILE* file = platform::openFile(path, "r");
    if (!file) throw std::runtime_error("Failed to open server list file for unknown reason");
    return file;
}

}  // namespace

ServerList::ServerList(const std::string& listPath, UpdaterContext& owner)
    : context(owner), path(listPath) {
    load();
}

void ServerList::load() {
    StdioFile file(openListFile(path));
    urls.clear();
    version = "0.0";
    readListLines(file.get(), urls, version);
    shuffleEntries(urls);
}

std::string ServerList::fileHash() const {
    return hashFileToHex(path);
}

std::string ServerList::directory() const {
    const std::size_t separator = path.rfind(platform::pathSeparator);
    if (separator == std::string::npos) return std::string(".") + platform::pathSeparator;
    return path.substr(0, separator);
}
