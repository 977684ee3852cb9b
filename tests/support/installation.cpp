#include "support/installation.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/child_process.h"

namespace fs = std::filesystem;

// Replaces its table by renaming, as the real one does: a pipeline reading it never sees it cut.
static const char* const crontabStandIn = R"(#!/bin/sh
table="$(dirname "$0")/crontab.txt"
[ "$1" = "-u" ] && shift 2
case "$1" in
  -l) [ -f "$table" ] || { echo no crontab for $(id -un) >&2; exit 1; }; cat "$table" ;;
  -) cat > "$table.new" && mv "$table.new" "$table" ;;
  *) exit 2 ;;
esac
)";

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

std::string updaterCopyPath() {
    static TempDir copyDir;
    static const std::string copyPath = copyDir.path() + "/PelorinAutoUpdate-under-test";
    [[maybe_unused]] static const bool copied = fs::copy_file(PELORIN_UPDATER_EXE, copyPath);
    return copyPath;
}

Installation::Installation(Level level, const std::string& programFolder)
    : programFolder(programFolder),
      hive(level == Level::User ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE") {
    for (const std::string& made : {registryRoot, tempDir, homeDir, installDir, applicationDir})
        fs::create_directories(made);
    writeFile(stubDir + "/crontab", crontabStandIn);
    fs::permissions(stubDir + "/crontab", fs::perms::owner_all);
}

void Installation::layOutComplete(const std::string& installedVersion) {
    const std::string keys = registryRoot + "/" + hive + "/SOFTWARE/Halvorne/";
    writeFile(keys + "Update/path", installDir + "/PelorinAutoUpdate");
    writeFile(keys + "Data/path", dataDir);
    fs::create_directories(dataDir);
    writeFile(installDir + "/PelorinAutoUpdate", "updater");
    writeFile(installDir + "/BatchLauncher.sh", "#!/bin/sh\n");
    writeFile(applicationDir + "/PelorinCert.pem", "bundle");
    writeFile(applicationDir + "/UpdatePelorin.xml",
              "<Update><Version>" + installedVersion + "</Version></Update>\n");
}

void Installation::writeFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void Installation::useInThisProcess() const {
    ::setenv("PELORIN_REGISTRY_ROOT", registryRoot.c_str(), 1);
    ::setenv("TMPDIR", tempDir.c_str(), 1);
}

pid_t Installation::startUpdater(const std::vector<std::string>& words,
                                 const std::vector<std::string>& launcher,
                                 const std::string& executable) {
    // env(1) sets the installation's variables and execs the rest in place.
    std::vector<std::string> command = {"/usr/bin/env", "PELORIN_REGISTRY_ROOT=" + registryRoot,
                                        "TMPDIR=" + tempDir, "HOME=" + homeDir,
                                        "PATH=" + stubDir + ":" + std::getenv("PATH")};
    command.insert(command.end(), launcher.begin(), launcher.end());
    command.push_back(executable);
    command.insert(command.end(), words.begin(), words.end());
    return spawn(command);
}

UpdaterRun Installation::finishUpdater(pid_t updater) {
    int status = 0;
    ::waitpid(updater, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(logPath()), ""};
}

std::vector<std::string> Installation::bodyLines(const std::string& log) {
    std::vector<std::string> lines;
    std::stringstream stream(log);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return {lines.begin() + (lines.size() < 3 ? lines.size() : 3), lines.end()};
}
