// Removal of the run's temporary files: the manifest always, the package
// copies after an update was found.
#include <cstdio>

#include "app/path_utils.h"
#include "app/updater_context.h"

namespace {

// A directory left empty by a failed discovery would put the name at the
// root of the file system; nothing of ours is there.
void removeFileIn(const std::string& directory, const std::string& name) {
    if (!directory.empty()) std::remove(joinPath(directory, name).c_str());
}

}  // namespace

void UpdaterContext::cleanTemporaryFiles(bool verbose) {
    if (verbose) log("Cleaning temporary files..", LogLevel::Info, true);
    removeFileIn(dataDir, "serverManifest.xml");
    if (updateFound) {
        removeFileIn(installDir, "Pelorin.msi");
        removeFileIn(updateDir, "Pelorin.msi");
    }
    if (verbose) log("Temporary files cleaned up successfully", LogLevel::Info, true);
}
