// Replays scenarios/<name>/scenario.xml (README.md) against the native build; WineTarget
// overrides what differs under Wine.
#pragma once

#include <string>
#include <vector>

#include "support/installation.h"

// `launcher`: volumes and shorter time-outs; `peakMemoryFile`: GNU time's figure;
// `environment`: NAME=VALUE for the updater.
struct RunConditions {
    std::vector<std::string> launcher;
    std::string peakMemoryFile;
    std::vector<std::string> environment;
};

struct UpdaterTarget {
    virtual ~UpdaterTarget() = default;
    // The installation, its updater the built one, which runs from there.
    virtual void layOut(Installation& at, const std::string& version);
    // Puts the updater built with the test release key in the built one's place;
    // false where the target has none.
    virtual bool useSignedUpdater(Installation& at);
    // A native path as the updater names it.
    virtual std::string updaterPath(const std::string& path) const { return path; }
    // Runs the updater to its end; the log with "\n" line ends.
    virtual UpdaterRun run(Installation& installation, const RunConditions& conditions);
    // Runs, until killed, a program in `dir` that shows in /proc/PID/comm as browserName().
    virtual std::vector<std::string> browserCommand(const std::string& dir);
    virtual std::string browserName() const { return "Pelorin"; }
    // Sets the user's Internet settings' proxy or the machine's; false where there are none.
    virtual bool setSystemProxy(bool /*machine*/, const std::string& /*proxy*/,
                                const std::string& /*bypass*/, const std::string& /*script*/) {
        return false;
    }
    // Runs, until killed, a program that holds `path` open without sharing and then
    // writes `marker`; empty where no file can be held so (POSIX).
    virtual std::vector<std::string> holderCommand(const std::string&, const std::string&) {
        return {};
    }
    // The updater's process name, as the runner kills it.
    virtual std::string updaterName() const { return "PelorinAutoUpdate"; }
    // A folder with what the target's releases carry in their Update folder.
    virtual std::string releaseUpdateFolder();
    // A text file as the updater reads it; natively byte for byte, so a stray CR shows.
    virtual std::string readText(const std::string& path) const { return readFile(path); }
};

std::vector<std::string> linesOf(const std::string& text);  // a last line without "\n" counts
// "<any>" stands for one or more characters, "<seconds>" for an elapsed time such as 0.52.
bool lineMatches(const std::string& expected, const std::string& actual);
// Empty when the logs match; otherwise the first difference and both logs.
std::string logDifference(const std::vector<std::string>& expected,
                          const std::vector<std::string>& actual);
std::vector<std::string> scenarioNames();
int mainServerPort();  // 0 when the build's main manifest URL is not on localhost
// `peakMiB`, when given, receives the run's peak memory where the target measures it.
void replayScenario(const std::string& name, UpdaterTarget& target, double* peakMiB = nullptr);
