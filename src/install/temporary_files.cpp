#include "install/temporary_files.h"

#include <cstdio>

#include "core/path_utils.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "transfer/partial_record.h"

namespace {

// A directory left empty by a failed discovery would put the name at the
// root of the file system; nothing of ours is there.
void removeIfPlaced(const std::string& directory, const std::string& path) {
    if (!directory.empty()) std::remove(path.c_str());
}

}  // namespace

void cleanTemporaryFiles(UpdaterContext& context, bool verbose) {
    if (verbose) context.log("Cleaning temporary files..", LogLevel::Info, true);
    removeIfPlaced(context.dataDir, joinPath(context.dataDir, "serverManifest.xml"));
    // A cut download's bytes wait for the next attempt while they can serve it.
    if (!context.installDir.empty()) {
        removePartialUnlessResumable(downloadedPackagePath(context.installDir));
        removePartialUnlessResumable(downloadedDeltaPath(context.installDir));
    }
    if (context.updateFound) {
        removeIfPlaced(context.installDir, downloadedPackagePath(context.installDir));
        removeIfPlaced(context.installDir, downloadedDeltaPath(context.installDir));
        removeIfPlaced(context.updateDir, stagedPackagePath(context.updateDir));
    }
    if (verbose) context.log("Temporary files cleaned up successfully", LogLevel::Info, true);
}
