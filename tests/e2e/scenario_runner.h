// Replays scenarios/<name>/scenario.xml (README.md) against a build: lays out
// the installation, starts the servers, runs the updater, then compares the
// whole log and checks the files. What differs between builds sits behind
// UpdaterTarget; the installation's files always lie in the native file system.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/installation.h"
#include "transfer/transfer_options.h"

// A folder that is a disk of its own during the run (conditioned_run.cpp).
struct Volume {
    std::string path;  // native
    std::string size;  // a tmpfs's, as mount takes it ("64k"); empty: the folder itself
    bool readOnly = false;
    long long freeBytes = -1;     // >= 0: filled at the start until only this much is free
    std::string fullOnceWritten;  // a file on it; the disk fills up once it holds fullAtBytes
    long long fullAtBytes = 1;
};

struct RunConditions {
    std::vector<Volume> volumes;
    std::optional<TransferTimeouts> transferTimeouts;  // instead of the updater's own
    std::string peakMemoryFile;  // not empty: GNU time's peak figure goes there, if it can
    bool any() const { return !volumes.empty() || transferTimeouts; }
};

class UpdaterTarget {
public:
    virtual ~UpdaterTarget() = default;
    // The registry keys and the files a release leaves, `version` installed.
    virtual void layOut(Installation& installation, const std::string& version) = 0;
    // A native path as the updater names it.
    virtual std::string updaterPath(const std::string& nativePath) const = 0;
    // Runs the updater to its end; the log with "\n" line ends. `notRun` says
    // why the conditions could not be made.
    virtual UpdaterRun run(Installation& installation, const RunConditions& conditions) = 0;
    // A command running, until killed, a program in `dir` that the updater
    // counts as a running browser; it shows in /proc/PID/comm as browserName().
    virtual std::vector<std::string> browserCommand(const std::string& dir) = 0;
    virtual std::string browserName() const = 0;
    // A text file as the updater reads it, with "\n" line ends.
    virtual std::string readText(const std::string& nativePath) const = 0;
};

// The scenario folders, sorted.
std::vector<std::string> scenarioNames();
// The port of the build's main manifest URL; 0 when it is not on localhost.
int mainServerPort();
void replayScenario(const std::string& name, UpdaterTarget& target);
