#include "update/package_installer.h"

#include <cstdio>

#include "core/path_utils.h"
#include "core/process_count.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "platform/platform.h"
#include "update/install_backup.h"
#include "update/path_wait.h"

namespace {

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

void installPackage(UpdaterContext& context) {
    const std::string stagedPackage = stagedPackagePath(context.updateDir);
    if (!removeEarlierStaging(stagingTreePath(context.updateDir), stagedPackage)) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    const std::string unpackCommand = platform::commands.adminUnpack(
        downloadedPackagePath(context.installDir), context.updateDir);
    if (platform::runCommand(unpackCommand) == 0 && waitForPath(true, stagedPackage)) {
        context.log("Update downloaded successfully", LogLevel::Default, true);
    }
    // The unpack writes the folders in their authored letter case.
    const std::string stagingTree = platform::pathIgnoringCase(stagingTreePath(context.updateDir));
    const std::string unpackedTree = platform::pathIgnoringCase(unpackedTreePath(stagingTree));
    // Without the unpacked tree there is nothing to copy, and the vanished
    // staging tree would otherwise pass for a finished copy.
    if (!directoryExists(unpackedTree)) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    const std::string copyCommand =
        platform::commands.copyAndClean(unpackedTree, context.rootDir, stagingTree);
    waitForBrowserToClose(context);
    InstallBackup backup(context.rootDir, context.updateDir, context.updaterExePath);
    if (!backup.prepare(unpackedTree)) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    if (!platform::startDetached(copyCommand, backup.guardPath()) ||
        !waitForCopy(stagingTree, backup.guardPath())) {
        // The undo must not race a copy that is still writing.
        platform::endDetached(backup.guardPath());
        if (waitForGuard(backup.guardPath())) backup.undo();
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    // The copy's last processes are ending; their guard goes with the backup.
    waitForGuard(backup.guardPath());
    backup.commit();
    context.log("Pelorin successfully updated to version " + context.newVersion, LogLevel::Default,
                true);
    // The old release's files go once the new one stands.
    backup.removeLeftovers();
}

bool recoverInterruptedInstall(UpdaterContext& context) {
    if (context.rootDir.empty() || context.updateDir.empty()) return true;
    InstallBackup backup(context.rootDir, context.updateDir, context.updaterExePath);
    if (!backup.underWay()) {
        backup.removeLeftovers();
        return true;
    }
    // The interrupted run's copy may still be running.
    if (!waitForGuard(backup.guardPath())) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return false;
    }
    // The copy removes the staging tree only once it has copied it whole.
    if (!fileExists(platform::pathIgnoringCase(stagingTreePath(context.updateDir)))) {
        backup.commit();
        backup.removeLeftovers();
        context.log("Interrupted update of Pelorin completed", LogLevel::Default, true);
        return true;
    }
    if (!backup.undo()) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return false;
    }
    context.log("Interrupted update of Pelorin undone", LogLevel::Default, true);
    return true;
}
