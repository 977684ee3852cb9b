// Replacing ServerList.lst with the newer list a manifest announces: download
// beside it, check its SHA-1, put it on the disk, copy the old file to the
// backup, rename the download over the list in one step, load it.
#include <curl/curl.h>

#include <cstdio>
#include <vector>

#include "core/path_utils.h"
#include "core/updater_context.h"
#include "platform/platform.h"
#include "platform/stdio_file.h"
#include "serverlist/server_list.h"
#include "transfer/file_hash.h"
#include "transfer/file_sha256.h"
#include "transfer/proxy_route.h"
#include "transfer/transfer_options.h"

namespace {

// Results that mean "no server there" or "not the server we trust": the list
// download ends without a line of its own.
bool isSilentResult(CURLcode result) {
    switch (result) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_WRITE_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_PEER_FAILED_VERIFICATION:  // 60, formerly CURLE_SSL_CACERT
            return true;
        default:
            return false;
    }
}

// On the manifest's handle, with its rules; only the URL, the target and the
// size cap are the list's own.
CURLcode transferInto(TransferHandle& handle, const std::string& url, std::FILE* file,
                      UpdaterContext& context) {
    BoundedFile target;
    target.file = file;
    target.limit = serverListByteLimit;
    // The list's host may be reached another way than the manifest's.
    const CURLcode result =
        static_cast<CURLcode>(performThroughProxies(handle, url, target, context));
    // A list cut at its cap failed like one that announced too much, not like
    // a server that is not there.
    return target.limitPassed ? CURLE_FILESIZE_EXCEEDED : result;
}

// Every byte, unchanged; false when a read or a write falls short.
bool copyBytes(std::FILE* from, std::FILE* to) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), from);
        if (count > 0 && std::fwrite(buffer.data(), 1, count, to) != count) return false;
        if (count < buffer.size()) return !std::ferror(from);
    }
}

// A whole copy of the list as the backup; the list itself stays in place, so
// that a run that ends at any moment leaves a list to start from.
bool copyFile(const std::string& from, const std::string& to) {
    // The target only once there is something to copy: a list that cannot be
    // read leaves no empty backup behind.
    StdioFile source(from, "rb");
    if (!source.get()) return false;
    StdioFile target(to, "wb");
    if (!target.get()) return false;
    const bool copied = copyBytes(source.get(), target.get());
    if (copied && target.close()) return true;
    target.close();
    std::remove(to.c_str());
    return false;
}

// Deletes an old backup and copies the list file to the backup name.
bool backUpList(const std::string& listPath, const std::string& backupPath,
                UpdaterContext& context) {
    if (fileExists(backupPath) && std::remove(backupPath.c_str()) != 0) {
        context.log("Failed to remove existing server list file", LogLevel::Error, true);
        return false;
    }
    if (!copyFile(listPath, backupPath)) {
        context.log("Failed to backup existing server list file", LogLevel::Error, true);
        return false;
    }
    return true;
}

}  // namespace

std::string ServerList::downloadServerList(TransferHandle& handle, const std::string& listUrl,
                                           const std::string& listHash,
                                           const std::string& listSha256) {
    const std::string temporaryPath = joinPath(directory(), "~tmpList.lst");
    if (fileExists(temporaryPath)) std::remove(temporaryPath.c_str());
    StdioFile temporaryFile(temporaryPath, "wb");
    if (!temporaryFile.get()) {
        context.log("Failed to create server list file", LogLevel::Error, true);
        return std::string();
    }
    CURLcode result = transferInto(handle, listUrl, temporaryFile.get(), context);
    // On the disk before it can take the list's place.
    if (result == CURLE_OK && !platform::flushToDisk(temporaryFile.get())) {
        result = CURLE_WRITE_ERROR;
    }
    temporaryFile.close();
    if (isSilentResult(result)) {
        std::remove(temporaryPath.c_str());
        return std::string();
    }
    if (result == CURLE_OK) {
        context.log("Server list file downloaded successfully", LogLevel::Info, true);
        context.log("Validating server list file..", LogLevel::Info, true);
        // Compared as whole texts, letter case counting: servers publish
        // the hash in upper case.
        if (fileMatchesHash(temporaryPath, listHash) &&
            (listSha256.empty() || fileSha256Hex(temporaryPath) == listSha256)) {
            context.log("Server list file validated successfully", LogLevel::Info, true);
            return temporaryPath;
        }
    }
    std::remove(temporaryPath.c_str());
    context.log(result != CURLE_OK ? "Failed to download server list file"
                                   : "Server list file validation failed",
                LogLevel::Error, true);
    return std::string();
}

bool ServerList::refresh(TransferHandle& handle, const std::string& listUrl,
                         const std::string& listHash, const std::string& listSha256) {
    const std::string downloadedPath = downloadServerList(handle, listUrl, listHash, listSha256);
    if (downloadedPath.empty() || !fileExists(downloadedPath)) return false;
    // A list nobody can read must not take the place of one that loads.
    if (!StdioFile(downloadedPath, "rb").get()) {
        context.log("Failed to read downloaded server list file", LogLevel::Error, true);
        return false;
    }
    const std::string backupPath = path + ".bak";
    if (fileExists(path) && !backUpList(path, backupPath, context)) {
        std::remove(downloadedPath.c_str());
        return false;
    }
    // One step: whoever reads the list, this run after a crash or the next
    // one, finds the old list or the new one, whole.
    if (!platform::replaceFile(downloadedPath, path)) {
        std::remove(downloadedPath.c_str());
        context.log("Failed to update server list file", LogLevel::Error, true);
        return false;
    }
    load();
    context.log("Server list file successfully updated to version " + version, LogLevel::Info,
                true);
    return true;
}
