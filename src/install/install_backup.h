// What makes the copy of a release over the installation all or nothing: a
// journal of what the release adds and replaces, the installed files it
// replaces moved aside into a backup folder before the copy, and the files
// the next start needs (the updater's folder, its own file, the CA bundle)
// held out of the copy and renamed into place after it, so that they stand
// whole at every instant. From them a failed or interrupted copy is undone,
// and a finished one committed: the installation is always one release, whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install/install_journal.h"

class InstallBackup {
public:
    // `rootDir`: the installation; `updateDir`: the staging directory, which
    // holds the journal "install.journal", the folders "backup", "held" and
    // "discarded" and the copy's guard "copy.guard", on the installation's
    // volume. `heldPaths`: installed folders and files that the copy must not
    // write (everything below a folder too).
    InstallBackup(const std::string& rootDir, const std::string& updateDir,
                  const std::vector<std::string>& heldPaths);

    // Before the copy of `releaseTree` over the installation: writes the
    // journal to the disk, moves aside every installed file (or link) that a
    // file of the release replaces, takes the held files out of the release
    // tree, and marks the journal moved. An installed entry of another kind
    // than the release's is left as it is, and the copy will fail there. False
    // when it could not be done; the installation is then as it was.
    bool prepare(const std::string& releaseTree);

    // A journal on the disk: an install was under way when its run ended.
    bool underWay() const;
    // Reads the journal on the disk; false when it cannot be opened, is cut
    // short or breaks its format. Nothing may then be acted on.
    bool load();

    // After a whole copy: renames the held files into place, keeping what they
    // replace in the backup, and puts every new file on the disk. False when
    // a step failed; undo then puts the old release back.
    bool finish();

    // After a copy that failed or was cut short, once none of its processes
    // runs (and only after `prepare` or a successful `load`): removes what the release added, puts
    // back what it replaced, then drops the journal and the backup. False when something could not
    // be put back or was lost; the journal and the backup then stay as they are.
    bool undo();

    // After `finish`: drops the journal, and with it the way back.
    // `removeLeftovers` then removes the backup.
    void commit();

    // Removes the backup, the held and discarded files and an unused guard, as
    // far as it can: what cannot go yet (the running updater's moved-aside
    // file, on Windows) a later run removes.
    void removeLeftovers();

    // The bytes the copy has written so far, and the files: grows while a copy
    // makes progress.
    std::uintmax_t copiedBytes() const;

    const std::string& guardPath() const { return guard_; }

private:
    // No file that the journal says was moved aside is missing from the backup.
    bool restorable() const;

    std::string rootDir_, backupDir_, heldDir_, discardDir_, journalPath_, guard_;
    std::vector<std::string> heldPaths_;
    InstallJournal journal_;
    bool known_ = false;  // the journal was made by prepare or read whole by load
};
