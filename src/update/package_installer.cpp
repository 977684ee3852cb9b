// Turns the validated package into an updated installation: administrative
// unpack into the staging directory, wait for the browser to close, then a
// detached child copies the tree over the installation and removes the
// staging tree, and the file system tells how it went.
#include <cstdio>

#include "app/path_utils.h"
#include "app/process_count.h"
#include "app/updater_context.h"
#include "platform/platform.h"
#include "transfer/sha1_hasher.h"
#include "update/path_wait.h"

namespace {

std::string narrowDigits(const std::wstring& digits) {
    std::string narrow;
    for (wchar_t digit : digits) narrow += static_cast<char>(digit);
    return narrow;
}

void waitForBrowserToClose(UpdaterContext& context) {
    bool waitingLogged = false;
    while (countProcessesByName(platform::browserExecutableName) != 0) {
        if (!waitingLogged) {
            context.log("Waiting for Pelorin to close..", LogLevel::Default, true);
            waitingLogged = true;
        }
        platform::sleepMilliseconds(500);
    }
}

// A staging tree or package copy left by an earlier run (a failed copy keeps
// them) must never pass for this run's unpack. True when both are gone.
bool removeEarlierStaging(const std::string& stagingTree, const std::string& stagedPackage) {
    if (fileExists(platform::pathIgnoringCase(stagingTree))) {
        platform::runCommand(platform::removeTreeCommand(stagingTree));
    }
    std::remove(stagedPackage.c_str());
    return !fileExists(platform::pathIgnoringCase(stagingTree)) && !fileExists(stagedPackage);
}

}  // namespace

bool UpdaterContext::validatePackage() {
    log("Validating downloaded files..", LogLevel::Default, true);
    Sha1Hasher hasher;
    hasher.reset();
    if (!hasher.hashFile(platform::widenPath(joinPath(installDir, "Pelorin.msi")))) {
        log("Hash check failed on downloaded data", LogLevel::Default, true);
        return false;
    }
    hasher.finalize();
    std::wstring digits;
    hasher.reportHash(digits);
    // The servers publish upper case; any other spelling is a mismatch.
    if (narrowDigits(digits) != readManifestValue("Hash")) {
        log("Hash check failed on downloaded data", LogLevel::Default, true);
        return false;
    }
    log("Validation successful", LogLevel::Default, true);
    return true;
}

void UpdaterContext::installPackage() {
    const std::string packagePath = joinPath(installDir, "Pelorin.msi");
    const std::string stagedPackage = joinPath(updateDir, "Pelorin.msi");
    if (!removeEarlierStaging(joinPath(updateDir, "program files"), stagedPackage)) {
        log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    if (platform::runCommand(platform::adminUnpackCommand(packagePath, updateDir)) == 0 &&
        waitForPath(true, stagedPackage)) {
        log("Update downloaded successfully", LogLevel::Default, true);
    }
    // The unpack writes the folders in their authored letter case.
    const std::string stagingTree =
        platform::pathIgnoringCase(joinPath(updateDir, "program files"));
    const std::string unpackedTree =
        platform::pathIgnoringCase(joinPath(joinPath(stagingTree, "Halvorne"), "Pelorin"));
    // Without the unpacked tree there is nothing to copy, and the vanished
    // staging tree would otherwise pass for a finished copy.
    if (!directoryExists(unpackedTree)) {
        log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    const std::string copyCommand =
        platform::copyAndCleanCommand(unpackedTree, rootDir, stagingTree);
    waitForBrowserToClose(*this);
    if (!platform::startDetached(copyCommand) || !waitForPath(false, stagingTree)) {
        log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    log("Pelorin successfully updated to version " + newVersion, LogLevel::Default, true);
}
