#include "update/package_validation.h"

#include "core/release_paths.h"
#include "core/updater_context.h"
#include "transfer/file_hash.h"
#include "transfer/file_sha256.h"
#include "update/manifest.h"

bool validatePackage(UpdaterContext& context) {
    context.log("Validating downloaded files..", LogLevel::Default, true);
    const std::string package = downloadedPackagePath(context.installDir);
    // With a release key the signed SHA-256 must match as well.
    if (!fileMatchesHash(package, readManifestValue(context, "Hash")) ||
        (!context.releasePublicKey.empty() &&
         fileSha256Hex(package) != readManifestValue(context, "Sha256"))) {
        context.log("Hash check failed on downloaded data", LogLevel::Default, true);
        return false;
    }
    context.log("Validation successful", LogLevel::Default, true);
    return true;
}
