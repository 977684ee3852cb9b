#include "transfer/package_download.h"

#include "core/path_utils.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "transfer/download.h"

bool downloadPackage(UpdaterContext& context, const std::string& url) {
    Download download(context, downloadedPackagePath(context.installDir), packageByteLimit);
    if (!download.opened() || !download.run(url)) return false;
    context.log("Connection successfully established to " + urlParent(url), LogLevel::Info, false);
    context.log("Downloading data from server..", LogLevel::Default, true);
    return true;
}
