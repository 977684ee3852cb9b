// Replays scenarios/<name>/scenario.xml (README.md) against a build: lays out
// the installation, starts the servers, runs the updater, compares the whole
// log and checks the files. What differs between builds is an UpdaterTarget.
#pragma once

#include <string>
#include <vector>

#include "support/installation.h"

// What a run needs beyond the installation: a native `launcher` for volumes
// and shorter time-outs (volumes.sh, pelorin_conditioned_run), and a file for
// GNU time's figure of the run's peak memory.
struct RunConditions {
    std::vector<std::string> launcher;
    std::string peakMemoryFile;
};

class UpdaterTarget {
public:
    virtual ~UpdaterTarget() = default;
    // The registry keys and the files a release leaves, `version` installed.
    virtual void layOut(Installation& installation, const std::string& version) = 0;
    // A native path as the updater names it.
    virtual std::string updaterPath(const std::string& nativePath) const = 0;
    // Runs the updater to its end; the log with "\n" line ends.
    virtual UpdaterRun run(Installation& installation, const RunConditions& conditions) = 0;
    // A command running, until killed, a program in `dir` that the updater
    // counts as a running browser; it shows in /proc/PID/comm as browserName().
    virtual std::vector<std::string> browserCommand(const std::string& dir) = 0;
    virtual std::string browserName() const = 0;
    // A text file as the updater reads it, with "\n" line ends.
    virtual std::string readText(const std::string& nativePath) const = 0;
};

// The lines of a text with "\n" line ends; a last line without one counts.
std::vector<std::string> linesOf(const std::string& text);
// In `expected`, "<any>" stands for one or more characters (libcurl's texts)
// and "<seconds>" for an elapsed time such as 0.52; the rest must be equal.
bool lineMatches(const std::string& expected, const std::string& actual);
// Empty when the logs match; otherwise the first difference and both logs.
std::string logDifference(const std::vector<std::string>& expected,
                          const std::vector<std::string>& actual);
// The scenario folders, sorted.
std::vector<std::string> scenarioNames();
// The port of the build's main manifest URL; 0 when it is not on localhost.
int mainServerPort();
void replayScenario(const std::string& name, UpdaterTarget& target);
