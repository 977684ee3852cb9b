// A browser installation, registry stand-in and temporary folder, for runs of the updater.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

// The built updater under another name: tests side by side never meet its single-instance guard.
std::string updaterCopyPath();
std::string readFile(const std::string& path);

struct UpdaterRun {
    int exitCode = -1;   // -1: ended by a signal
    std::string log;     // the whole log file; empty when none was written
    std::string notRun;  // not empty: the run could not be made as asked, and why
};

class Installation {
public:
    enum class Level { User, System };
    // `programFolder`: the installation's own folder below Program Files/Halvorne.
    explicit Installation(Level level = Level::User, const std::string& programFolder = "Pelorin");
    // Keys (without "Wow6432Node"), updater, launcher, CA bundle, installed version.
    void layOutComplete(const std::string& installedVersion = "1.0");
    void writeFile(const std::string& path, const std::string& content);
    // A stand-in `crontab` first on PATH keeps the table in crontabPath().
    UpdaterRun runUpdater(const std::vector<std::string>& words = {},
                          const std::string& executable = updaterCopyPath()) {
        return finishUpdater(startUpdater(words, {}, executable));
    }
    // `launcher`: words before the updater's path, for a program that runs it.
    pid_t startUpdater(const std::vector<std::string>& words = {},
                       const std::vector<std::string>& launcher = {},
                       const std::string& executable = updaterCopyPath());
    UpdaterRun finishUpdater(pid_t updater);
    // The log's lines after its header (banner, empty line, start line).
    static std::vector<std::string> bodyLines(const std::string& log);
    void useInThisProcess() const;  // sets PELORIN_REGISTRY_ROOT and TMPDIR here
    std::string logPath() const { return tempDir + "/PelorinAutoUpdate.log"; }
    std::string crontabPath() const { return stubDir + "/crontab.txt"; }

    TempDir root;
    const std::string programFolder;
    const std::string registryRoot = root.path() + "/registry";  // a folder per key, a file a value
    const std::string tempDir = root.path() + "/temp", stubDir = root.path() + "/stubs",
                      homeDir = root.path() + "/home";
    const std::string rootDir = root.path() + "/Program Files/Halvorne/" + programFolder;
    const std::string installDir = rootDir + "/Update", applicationDir = rootDir + "/Application",
                      dataDir = rootDir + "/Data";
    const std::string updateDir = root.path() + "/Program Files/Halvorne/Update";  // staging
    const std::string hive;  // "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE"
};
