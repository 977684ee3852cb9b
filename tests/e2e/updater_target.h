// What differs between the builds a scenario is replayed against: the native
// build, run with the registry stand-in, and (to come) the Windows build run
// under Wine. The scenarios and the runner know nothing else about a target.
// The installation's files always lie in the native file system; a target
// only changes how the updater is pointed at them and how it names them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "e2e/scenario.h"
#include "support/installation.h"

// What a run may need beyond the installation: folders that are disks of
// their own (paths native), and shorter transfer time-outs.
struct RunConditions {
    std::vector<Volume> volumes;
    std::optional<TransferTimeouts> transferTimeouts;
};

class UpdaterTarget {
public:
    virtual ~UpdaterTarget() = default;

    // Writes the registry keys that locate `installation` and the files a
    // release leaves beside the updater, with `installedVersion` in the local
    // version file.
    virtual void layOut(Installation& installation, const std::string& installedVersion) = 0;

    // A native path as the updater names it: in its log, and in the files it
    // reads.
    virtual std::string updaterPath(const std::string& nativePath) const = 0;

    // Runs the updater without arguments to its end. The log comes back with
    // "\n" line ends, whatever the target writes.
    virtual UpdaterRun runUpdater(Installation& installation) = 0;

    // The same under `conditions`; a target that cannot create them gives a
    // run whose `notRun` says why.
    virtual UpdaterRun runUnder(Installation& installation, const RunConditions& conditions) {
        if (conditions.volumes.empty() && !conditions.transferTimeouts) {
            return runUpdater(installation);
        }
        UpdaterRun run;
        run.notRun = "this build cannot be run with volumes or shorter transfer time-outs";
        return run;
    }

    // A command line (program first) that runs, until it is killed, a process
    // that the updater counts as a running browser. `scratchDir` is an
    // existing directory the command may put its program in.
    virtual std::vector<std::string> browserCommand(const std::string& scratchDir) = 0;

    // A text file of the installation with "\n" line ends, as the updater
    // would read it; empty when it cannot be read.
    virtual std::string readText(const std::string& nativePath) const = 0;
};
