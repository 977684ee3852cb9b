// The updater's own list of update servers, kept in ServerList.lst beside the
// data: loaded (or first created) at start, shuffled at every load, and
// replaced by a newer list that a manifest announces.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class TransferHandle;
class UpdaterContext;

class ServerList {
public:
    // The most entries a list holds; entries beyond it are ignored.
    static constexpr std::size_t maxEntries = 32768;

    // Stores both and loads the file at once; a failed load leaves as a
    // std::runtime_error carrying its message.
    ServerList(const std::string& listPath, UpdaterContext& owner);

    // (Re)reads the file, writing the default file when there is none.
    void load();

    // SHA-1 text of the list file, empty when it is missing or unreadable.
    std::string fileHash() const;
    // The list file's directory, without its trailing separator.
    std::string directory() const;

    // Replaces the list file with the one at `listUrl` when its SHA-1 text is
    // `listHash` (and, unless empty, its SHA-256 `listSha256`), then loads it,
    // on `handle`, which the manifest's fetch made.
    bool refresh(TransferHandle& handle, const std::string& listUrl, const std::string& listHash,
                 const std::string& listSha256 = "");
    // The validated temporary download, or empty when there is none.
    std::string downloadServerList(TransferHandle& handle, const std::string& listUrl,
                                   const std::string& listHash, const std::string& listSha256 = "");

    std::vector<std::string> urls;
    UpdaterContext& context;
    std::string path;
    std::string version = "0.0";
};
