#include "update/package_validation.h"

#include "core/release_paths.h"
#include "core/updater_context.h"
#include "transfer/file_hash.h"
#include "update/manifest.h"

bool validatePackage(UpdaterContext& context) {
    context.log("Validating downloaded files..", LogLevel::Default, true);
    if (!fileMatchesHash(downloadedPackagePath(context.installDir),
                         readManifestValue(context, "Hash"))) {
        context.log("Hash check failed on downloaded data", LogLevel::Default, true);
        return false;
    }
    context.log("Validation successful", LogLevel::Default, true);
    return true;
}
