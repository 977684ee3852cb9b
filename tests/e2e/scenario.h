// One end-to-end scenario as read from tests/e2e/scenarios/<name>/scenario.xml:
// the servers and how they misbehave, the installation, and what the run must
// leave behind. Texts still hold their ${...} placeholders; the runner fills
// them in once the servers are up (README.md beside this file).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "transfer/transfer_options.h"

struct ServedFile {
    std::string path;     // URL path, e.g. "/Win/UpdateWin.xml"
    std::string content;  // template text; unused for a package
    std::string release;  // not empty: the sample release package of this version
    // The package's program tree below an ordinary folder "program files"
    // instead of the standard ProgramFilesFolder.
    bool lowerCaseProgramFolder = false;
};

struct ServerRule {
    std::string path;  // URL path
    std::string json;  // the test server's rule object
    int requests = 0;  // 0: for every request; N: lifted after the Nth request
};

struct ScenarioServer {
    std::string name;               // "main" is the main server, on the build's fixed port
    std::string protocol;           // "https" (the test server), "ftp" or "sftp"
    std::string cert;               // "Good", "ForeignCa" or "WrongHost"; https only
    bool unreachable = false;       // a port where nothing listens
    bool silent = false;            // a port that takes connections and never answers
    std::vector<ServedFile> files;  // written in this order
    std::vector<ServerRule> rules;
};

struct InstallationFile {
    std::string path;  // with path placeholders, '/' separated
    std::string content;
};

// A folder that is a disk of its own while the updater runs: a tmpfs of
// `size`, or the folder itself made read-only. It starts with the folder's
// files, and the folder holds what the run left on it afterwards.
struct Volume {
    std::string path;  // with path placeholders
    std::string size;  // tmpfs size, as mount takes it ("64k"); empty: no new disk
    bool readOnly = false;
    long long freeBytes = -1;  // >= 0: filled at the start until only this many are free
    // Not empty: a file on the volume; the volume is filled up as soon as it
    // holds `fullAtBytes` bytes.
    std::string fullOnceWritten;
    long long fullAtBytes = 1;
};

struct ExpectedFile {
    enum class Kind { Content, Directory, Absent };
    Kind kind = Kind::Content;
    std::string path;
    std::string content;
};

struct Scenario {
    std::string name;  // the folder's name
    std::string description;
    std::vector<ScenarioServer> servers;
    std::string installedVersion;
    std::vector<InstallationFile> installationFiles;
    // A browser runs from the start and closes this many seconds after the
    // unpack has put its copy of the package in the staging directory; < 0:
    // no browser runs.
    int browserClosesAfterUnpackSeconds = -1;
    std::vector<Volume> volumes;
    // Set: the run takes these time-outs instead of the updater's own, which
    // only a run of the updater's code inside the test program can.
    std::optional<TransferTimeouts> transferTimeouts;
    std::vector<std::string> expectedLog;  // the lines after the header
    std::vector<ExpectedFile> expectedFiles;
};

// The folder that holds one folder per scenario.
std::string scenariosDirectory();
// The scenario folders' names, sorted.
std::vector<std::string> scenarioNames();
// Reads scenarios/<name>/scenario.xml; throws std::runtime_error naming the
// file and what is wrong with it.
Scenario loadScenario(const std::string& name);
