// A browser installation laid out in a temporary folder, with the registry
// stand-in and the temporary directory of its own, and the updater run
// against it as a separate process, as on a user's machine.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

// The built updater under another file name, so that tests running at the same
// time never meet each other's single-instance guard.
std::string updaterCopyPath();

struct UpdaterRun {
    int exitCode = -1;   // -1: ended by a signal
    std::string log;     // the whole log file; empty when none was written
    std::string notRun;  // not empty: the run could not be made as asked, and why
};

class Installation {
public:
    enum class Level { User, System };
    // Lays out the directories; nothing more is written until asked.
    explicit Installation(Level level = Level::User);

    // The installation as a release engineer leaves it: the keys (without
    // "Wow6432Node"), the updater and launcher files, the CA bundle and the
    // installed version.
    void layOutComplete(const std::string& installedVersion = "1.0");
    void writeFile(const std::string& path, const std::string& content);

    // Runs the updater with these words; the environment points it at this
    // installation. A stand-in `crontab` keeps the crontab in crontabPath().
    UpdaterRun runUpdater(const std::vector<std::string>& words = {},
                          const std::string& executable = updaterCopyPath());
    // The same in two steps, for a test that acts while the updater runs.
    // `launcher` words come before the updater's path (a program that runs it).
    pid_t startUpdater(const std::vector<std::string>& words = {},
                       const std::vector<std::string>& launcher = {},
                       const std::string& executable = updaterCopyPath());
    UpdaterRun finishUpdater(pid_t updater);
    // The log's lines after its header (banner, empty line, start line).
    static std::vector<std::string> bodyLines(const std::string& log);

    // Sets PELORIN_REGISTRY_ROOT and TMPDIR in this process, for tests that
    // build an UpdaterContext in-process.
    void useInThisProcess() const;

    std::string logPath() const { return tempDir + "/PelorinAutoUpdate.log"; }
    std::string crontabPath() const { return stubDir + "/crontab.txt"; }

    TempDir root;
    // One folder per key, one file per value: "HKEY_CURRENT_USER/SOFTWARE/.../path".
    std::string registryRoot, tempDir, stubDir;
    std::string homeDir;         // the updater's HOME (an SFTP login's key)
    std::string rootDir;         // the browser: .../Program Files/Halvorne/Pelorin
    std::string installDir;      // the updater: rootDir/Update
    std::string applicationDir;  // rootDir/Application
    std::string updateDir;       // staging: .../Halvorne/Update
    std::string dataDir;         // named by the Data key: rootDir/Data
    std::string hive;            // "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE"
};

std::string readFile(const std::string& path);
