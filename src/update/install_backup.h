// What makes the copy of a release over the installation all or nothing: a
// journal of what the release adds, and the installed files it replaces,
// moved aside into a backup folder beside the staging tree before the copy.
// From them a failed or interrupted copy is undone, and a finished one
// committed, so that the installation is always one release, whole.
#pragma once

#include <string>

class InstallBackup {
public:
    // `rootDir`: the installation; `updateDir`: the staging directory, which
    // holds the journal "install.journal", the backup folder "backup", the
    // folder "discarded" and the copy's guard "copy.guard", on the
    // installation's volume; `ownFile`: the running updater's file.
    InstallBackup(const std::string& rootDir, const std::string& updateDir,
                  const std::string& ownFile);

    // Before the copy of `releaseTree` over the installation: writes the
    // journal to the disk, then moves aside every installed file (or link)
    // that a file of the release replaces. An installed entry of another kind
    // than the release's is left as it is, and the copy will fail there. False
    // when it could not be done; the installation is then as it was.
    bool prepare(const std::string& releaseTree);

    // After a copy that failed or was cut short, once none of its processes
    // runs: removes what the release added, puts back what it replaced, then
    // drops the journal and the backup. False when something could not be put
    // back; the journal then stays for a later run.
    bool undo();

    // After a whole copy: drops the journal, and with it the way back.
    // `removeLeftovers` then removes the backup.
    void commit();

    // A journal on the disk: an install was under way when its run ended.
    bool underWay() const;
    // Removes the backup, the running updater's files moved aside and an
    // unused guard, as far as it can: what cannot go yet (the running
    // updater's moved-aside file, on Windows) a later run removes.
    void removeLeftovers();

    const std::string& guardPath() const { return guard_; }

private:
    std::string rootDir_, ownFile_, backupDir_, discardDir_, journal_, guard_;
};
