#include "transfer/package_download.h"

#include <algorithm>

#include "core/path_utils.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "transfer/download.h"

namespace {

bool downloadInto(UpdaterContext& context, const std::string& url, const std::string& path,
                  unsigned long long byteLimit) {
    Download download(context, path, byteLimit);
    if (!download.opened() || !download.run(url)) return false;
    context.log("Connection successfully established to " + urlParent(url), LogLevel::Info, false);
    context.log("Downloading data from server..", LogLevel::Default, true);
    return true;
}

}  // namespace

bool downloadPackage(UpdaterContext& context, const std::string& url) {
    return downloadInto(context, url, downloadedPackagePath(context.installDir), packageByteLimit);
}

bool downloadDelta(UpdaterContext& context, const std::string& url,
                   unsigned long long announcedBytes) {
    return downloadInto(context, url, downloadedDeltaPath(context.installDir),
                        std::min(announcedBytes, packageByteLimit));
}
