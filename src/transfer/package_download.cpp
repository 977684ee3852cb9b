#include "transfer/package_download.h"

#include "core/path_utils.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "transfer/resumable_download.h"

bool downloadHashedFile(UpdaterContext& context, const std::string& url,
                        const std::string& expectedHash, const std::string& destination,
                        unsigned long long byteLimit) {
    ResumableDownload download(context, url, expectedHash, destination, byteLimit);
    if (!download.opened() || !download.run()) return false;
    context.log("Connection successfully established to " + urlParent(url), LogLevel::Info, false);
    context.log("Downloading data from server..", LogLevel::Default, true);
    return true;
}

bool downloadPackage(UpdaterContext& context, const std::string& url,
                     const std::string& expectedHash) {
    return downloadHashedFile(context, url, expectedHash, downloadedPackagePath(context.installDir),
                              packageByteLimit);
}

bool downloadDelta(UpdaterContext& context, const std::string& url, const std::string& expectedHash,
                   unsigned long long announcedBytes) {
    return downloadHashedFile(context, url, expectedHash, downloadedDeltaPath(context.installDir),
                              announcedBytes);
}
