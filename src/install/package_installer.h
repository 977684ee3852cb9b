// Turning the validated package into an updated installation, and finishing
// or undoing an installation that an earlier run left in the middle.
#pragma once

class UpdaterContext;

// Administrative unpack into the staging directory, a wait for the browser to
// close, then a detached child copies the tree over the installation and
// removes the staging tree; the file system tells how it went. The installed
// files the release replaces are moved aside first (InstallBackup), so that a
// copy that fails, or a run that ends during it, leaves the old release whole.
void installPackage(UpdaterContext& context);
// What installPackage does after its unpack: the wait, the backup and the copy
// of the staging tree as it stands (a delta's rebuild), with the same lines.
void installStagedTree(UpdaterContext& context);
// Removes a staging tree or staged package an earlier attempt left; false when
// one stays.
bool clearStaging(UpdaterContext& context);
// Before anything else in a run: puts an installation that an earlier run
// left in the middle of its copy back in one piece, the old release or the
// new one. False when it could not (already logged): the run ends.
bool recoverInterruptedInstall(UpdaterContext& context);
