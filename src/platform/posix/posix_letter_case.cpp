// Paths without regard to letter case on POSIX, as Windows resolves them:
// msiextract writes a package's folders in the letter case of their authored
// names, and the updater must find them whatever that case is.
#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <memory>

#include "platform/platform.h"

namespace {

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

bool exists(const std::string& path) {
    return platform::fileStatus(path).exists;
}

// The name of the first entry of `directory` equal to `piece` but for ASCII
// letter case; `piece` when there is none.
std::string entryIgnoringCase(const std::string& directory, const std::string& piece) {
    std::unique_ptr<DIR, DirectoryCloser> listing(
        ::opendir(directory.empty() ? "." : directory.c_str()));
    if (!listing) return piece;
    while (const dirent* entry = ::readdir(listing.get())) {
        if (::strcasecmp(entry->d_name, piece.c_str()) == 0) return entry->d_name;
    }
    return piece;
}

}  // namespace

namespace platform {

std::string pathIgnoringCase(const std::string& path) {
    if (path.empty() || exists(path)) return path;
    std::string resolved;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string piece = path.substr(start, end - start);
        if (start > 0) resolved += '/';
        if (piece.empty() || piece == "." || piece == ".." || exists(resolved + piece)) {
            resolved += piece;
        } else {
            resolved += entryIgnoringCase(resolved, piece);
        }
        start = end + 1;
    }
    return resolved;
}

}  // namespace platform
