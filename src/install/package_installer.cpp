#include "install/package_installer.h"

#include <cstdio>

#include "core/path_utils.h"
#include "core/process_count.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "install/install_backup.h"
#include "install/path_wait.h"
#include "platform/platform.h"
#include "transfer/partial_record.h"

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

enum class CopyOutcome {
    Done,     // the staging tree is gone: the copy went through
    Failed,   // the copy ended and left the staging tree
    Running,  // the polls ran out while the copy still made progress
    Stuck,    // the copy runs, but has written nothing for a minute
};

// Polls every 500 ms, up to `polls` times (0: for as long as the copy makes
// progress), until the staging tree is gone or the copy has ended. Progress is
// looked at every ten seconds: a slow disk or an on-access scanner is no
// failure, a copy blocked for good is.
CopyOutcome waitForCopy(const std::string& stagingTree, const InstallBackup& backup, int polls) {
    const int progressEvery = 20, stuckAfter = 120;
    std::uintmax_t copied = backup.copiedBytes();
    int lastProgress = 0;
    for (int poll = 1; polls == 0 || poll <= polls; ++poll) {
        platform::sleepMilliseconds(500);
        if (!directoryExists(stagingTree)) return CopyOutcome::Done;
        if (!platform::guardHeld(backup.guardPath())) {
            return directoryExists(stagingTree) ? CopyOutcome::Failed : CopyOutcome::Done;
        }
        if (poll % progressEvery != 0) continue;
        const std::uintmax_t now = backup.copiedBytes();
        if (now != copied) lastProgress = poll;
        copied = now;
        if (poll - lastProgress >= stuckAfter) return CopyOutcome::Stuck;
    }
    return CopyOutcome::Running;
}

// True once no process of a copy holds the guard, within 240 polls.
bool waitForGuard(const std::string& guardPath) {
    for (int polls = 0; platform::guardHeld(guardPath); ++polls) {
        if (polls == 240) return false;
        platform::sleepMilliseconds(500);
    }
    return true;
}

// The files the next start needs, which the copy must leave whole: the
// updater's folder with its launcher, its own file, the CA bundle.
InstallBackup backupFor(const UpdaterContext& context) {
    return InstallBackup(context.rootDir, context.updateDir,
                         {context.installDir, context.updaterExePath, context.caBundlePath});
}

// After a whole copy: the held files in place and everything on the disk, then
// the way back dropped. False when that failed and the install was undone.
bool completeInstall(InstallBackup& backup) {
    if (!backup.finish()) {
        backup.undo();
        return false;
    }
    backup.commit();
    backup.removeLeftovers();
    return true;
}

}  // namespace

bool clearStaging(UpdaterContext& context) {
    return removeEarlierStaging(stagingTreePath(context.updateDir),
                                stagedPackagePath(context.updateDir));
}

void installPackage(UpdaterContext& context) {
    if (!clearStaging(context)) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    const std::string unpackCommand = platform::commands.adminUnpack(
        downloadedPackagePath(context.installDir), context.updateDir);
    // The unpack places its copy of the package last: a tree without it may
    // be a part of the release (a full disk), which must never be copied.
    if (platform::runCommand(unpackCommand) != 0 ||
        !waitForPath(true, stagedPackagePath(context.updateDir))) {
        clearStaging(context);
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    context.log("Update downloaded successfully", LogLevel::Default, true);
    installStagedTree(context);
}

void installStagedTree(UpdaterContext& context) {
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
    InstallBackup backup = backupFor(context);
    if (!backup.prepare(unpackedTree)) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    const platform::DetachedStart start = platform::startDetached(copyCommand, backup.guardPath());
    // Such a copy is never ended early; the undo still waits for it.
    if (start == platform::DetachedStart::StartedUnreachable) {
        context.log("The copy cannot be ended by this run", LogLevel::Warning, true);
    }
    const CopyOutcome outcome = start == platform::DetachedStart::Failed
                                    ? CopyOutcome::Failed
                                    : waitForCopy(stagingTree, backup, 240);
    // A copy still making progress is left to finish; the next run completes
    // the install from the journal.
    if (outcome == CopyOutcome::Running) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    // The undo must not race a copy that is still writing.
    if (outcome == CopyOutcome::Stuck) platform::endDetached(backup.guardPath());
    const bool copyEnded = waitForGuard(backup.guardPath());
    if (outcome != CopyOutcome::Done || !copyEnded || !completeInstall(backup)) {
        if (outcome != CopyOutcome::Done && copyEnded) backup.undo();
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return;
    }
    // A delta cut off on the way is of no use to the release now installed.
    removePartial(downloadedDeltaPath(context.installDir));
    context.log("Pelorin successfully updated to version " + context.newVersion, LogLevel::Default,
                true);
}

bool recoverInterruptedInstall(UpdaterContext& context) {
    if (context.rootDir.empty() || context.updateDir.empty()) return true;
    // Nothing is downloaded yet: a package here is a killed run's, which never
    // came to its clean-up.
    std::remove(downloadedPackagePath(context.installDir).c_str());
    std::remove(downloadedDeltaPath(context.installDir).c_str());
    std::remove(stagedPackagePath(context.updateDir).c_str());
    InstallBackup backup = backupFor(context);
    if (!backup.underWay()) {
        backup.removeLeftovers();
        return true;
    }
    // A journal that does not read whole is never acted on: the backup stays.
    // The interrupted run's copy may still be running, slowly.
    const std::string stagingTree = platform::pathIgnoringCase(stagingTreePath(context.updateDir));
    if (!backup.load() || (platform::guardHeld(backup.guardPath()) &&
                           waitForCopy(stagingTree, backup, 0) == CopyOutcome::Stuck)) {
        context.log("Failed to update Pelorin", LogLevel::Error, true);
        return false;
    }
    // The copy removes the staging tree only once it has copied it whole.
    if (!fileExists(stagingTree) && backup.finish()) {
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
