// Turns the validated package into an updated installation: administrative
// unpack into the staging directory, wait for the browser to close, then a
// detached child copies the tree over the installation and removes the
// staging tree, and the file system tells how it went. The installed files
// the release replaces are moved aside first, so that a copy that fails, or a
// run that ends during it, leaves the old release whole (InstallBackup).
#include <cstdio>

#include "app/path_utils.h"
#include "app/process_count.h"
#include "app/updater_context.h"
#include "platform/platform.h"
#include "transfer/sha1_hasher.h"
#include "update/install_backup.h"
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
        platform::runCommand(platform::commands.removeTree(stagingTree));
    }
    std::remove(stagedPackage.c_str());
    return !fileExists(platform::pathIgnoringCase(stagingTree)) && !fileExists(stagedPackage);
}

// Polls as the wait on the staging tree does: true when the tree is gone,
// false when the polls run out or the copy ended and left it.
bool waitForCopy(const std::string& stagingTree, const std::string& guardPath) {
    for (int polls = 0; polls < 240; ++polls) {
        platform::sleepMilliseconds(500);
        if (!directoryExists(stagingTree)) return true;
        if (!platform::guardHeld(guardPath)) return !directoryExists(stagingTree);
    }
    return false;
}

// True once no process of a copy holds the guard, within 240 polls.
bool waitForGuard(const std::string& guardPath) {
    for (int polls = 0; platform::guardHeld(guardPath); ++polls) {
        if (polls == 240) return false;
        platform::sleepMilliseconds(500);
    }
    return true;
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
    if (platform::runCommand(platform::commands.adminUnpack(packagePath, updateDir)) == 0 &&
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
        platform::commands.copyAndClean(unpackedTree, rootDir, stagingTree);
    waitForBrowserToClose(*this);
    InstallBackup backup(rootDir, updateDir, updaterExePath);
    if (!backup.prepare(unpackedTree)) {
        log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    if (!platform::startDetached(copyCommand, backup.guardPath()) ||
        !waitForCopy(stagingTree, backup.guardPath())) {
        // The undo must not race a copy that is still writing.
        platform::endDetached(backup.guardPath());
        if (waitForGuard(backup.guardPath())) backup.undo();
        log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    // The copy's last processes are ending; their guard goes with the backup.
    waitForGuard(backup.guardPath());
    backup.commit();
    log("Pelorin successfully updated to version " + newVersion, LogLevel::Default, true);
    // The old release's files go once the new one stands.
    backup.removeLeftovers();
}

bool UpdaterContext::recoverInterruptedInstall() {
    if (rootDir.empty() || updateDir.empty()) return true;
    InstallBackup backup(rootDir, updateDir, updaterExePath);
    if (!backup.underWay()) {
        backup.removeLeftovers();
        return true;
    }
    // The interrupted run's copy may still be running.
    if (!waitForGuard(backup.guardPath())) {
        log("Failed to update Pelorin", LogLevel::Error, true);
        return false;
    }
    // The copy removes the staging tree only once it has copied it whole.
    if (!fileExists(platform::pathIgnoringCase(joinPath(updateDir, "program files")))) {
        backup.commit();
        backup.removeLeftovers();
        log("Interrupted update of Pelorin completed", LogLevel::Default, true);
        return true;
    }
    if (!backup.undo()) {
        log("Failed to update Pelorin", LogLevel::Error, true);
        return false;
    }
    log("Interrupted update of Pelorin undone", LogLevel::Default, true);
    return true;
}
