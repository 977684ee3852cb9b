#include "e2e/wine_target.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char* const defaultPrefix = "/var/cache/pelorin/wine-prefix-e2e";
// The stand-in browser shows in the process list only once Wine has started
// it, which takes a second or two.
constexpr auto browserStartLimit = std::chrono::seconds(30);

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// This process's environment with `settings` ("NAME=value") in place of any
// variable of the same name.
std::vector<std::string> environmentWith(const std::vector<std::string>& settings) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('='));
        bool replaced = false;
        for (const std::string& setting : settings) {
            if (setting.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        }
        if (!replaced) result.push_back(variable);
    }
    result.insert(result.end(), settings.begin(), settings.end());
    return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(&text[0]);
    pointers.push_back(nullptr);
    return pointers;
}

// Runs `program` with `arguments` and `environment`, stdin empty and the
// output appended to `outputPath`; gives its exit status, -1 when it did not
// exit by itself.
int runProgram(const std::string& program, std::vector<std::string> arguments,
               std::vector<std::string> environment, const std::string& outputPath) {
    arguments.insert(arguments.begin(), program);
    // Everything the child needs is made before the fork: the test process
    // has threads, so the child may only call exec's kin.
    std::vector<char*> argv = pointersTo(arguments);
    std::vector<char*> envp = pointersTo(environment);
    const FileDescriptor input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const FileDescriptor output(
        ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (input.get() < 0 || output.get() < 0) throw std::runtime_error("cannot open " + outputPath);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input.get(), 0);
        ::dup2(output.get(), 1);
        ::dup2(output.get(), 2);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (child < 0) throw std::runtime_error("fork failed");
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::string::size_type at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Whether every line of `text` ends in CR LF, and no CR stands elsewhere.
bool everyLineEndsInCrLf(const std::string& text) {
    if (text.empty()) return true;
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) return false;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        const bool crLf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        if (text[i] == '\r' && !crLf) return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    }
    return true;
}

bool browserIsRunning() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        // Wine names the Linux process after the Windows program it runs.
        if (readFile(entry.path().string() + "/comm") == "Pelorin.exe\n") return true;
    }
    return false;
}

void waitForBrowser() {
    const auto limit = std::chrono::steady_clock::now() + browserStartLimit;
    while (!browserIsRunning() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string wineUserName() {
    const passwd* user = ::getpwuid(::getuid());
    return user ? user->pw_name : environmentValue("USER");
}

}  // namespace

std::string WineTarget::windowsExecutable() {
    return environmentValue("PELORIN_E2E_WINDOWS_EXE");
}

WineTarget::WineTarget()
    : executable_(windowsExecutable()),
      standinsDir_(environmentValue("PELORIN_E2E_WINDOWS_STANDINS")),
      prefix_(environmentValue("PELORIN_E2E_WINE_PREFIX")),
      wineRun_(std::string(PELORIN_SOURCE_DIR) + "/tools/windows/wine-run.sh") {
    if (executable_.empty() || !fs::is_regular_file(executable_)) {
        throw std::runtime_error("PELORIN_E2E_WINDOWS_EXE names no file: " + executable_);
    }
    if (standinsDir_.empty()) standinsDir_ = fs::path(executable_).parent_path() / "standins";
    if (prefix_.empty()) prefix_ = defaultPrefix;
    for (const char* standin : {"schtasks.exe", "xcopy.exe", "browser.exe"}) {
        if (!fs::is_regular_file(fs::path(standinsDir_) / standin)) {
            throw std::runtime_error("no " + std::string(standin) + " in " + standinsDir_ +
                                     " (tools/windows/standins/build-standins.sh builds them)");
        }
    }
}

// Through wine-run.sh, which keeps Wine headless and quiet and its server up
// between the runs.
int WineTarget::runWine(const std::vector<std::string>& words,
                        const std::string& outputPath) const {
    return runProgram(
        wineRun_, words,
        environmentWith({"WINEPREFIX=" + prefix_, "WINEPATH=" + updaterPath(standinsDir_)}),
        outputPath);
}

void WineTarget::clearRegistry() const {
    for (const char* key : {"HKEY_CURRENT_USER\\SOFTWARE\\Halvorne",
                            "HKEY_CURRENT_USER\\SOFTWARE\\Wow6432Node\\Halvorne",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorne",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Halvorne"}) {
        runWine({"reg", "delete", key, "/f"}, "/dev/null");  // fails when the key is not there
    }
}

void WineTarget::addRegistryValue(const std::string& key, const std::string& value) const {
    if (runWine({"reg", "add", key, "/v", "path", "/t", "REG_SZ", "/d", value, "/f", registryView_},
                "/dev/null") != 0) {
        throw std::runtime_error("wine reg add " + key + " failed");
    }
}

void WineTarget::layOut(Installation& installation, const std::string& installedVersion) {
    const std::string updater = installation.installDir + "/PelorinAutoUpdate.exe";
    clearRegistry();
    addRegistryValue(installation.hive + "\\SOFTWARE\\Halvorne\\Update", updaterPath(updater));
    addRegistryValue(installation.hive + "\\SOFTWARE\\Halvorne\\Data",
                     updaterPath(installation.dataDir));
    // Wine keeps the Linux HOME from Windows programs; libcurl looks for the
    // key of an SFTP login below the HOME of the user's environment.
    if (runWine({"reg", "add", "HKEY_CURRENT_USER\\Environment", "/v", "HOME", "/t", "REG_SZ", "/d",
                 updaterPath(installation.homeDir), "/f"},
                "/dev/null") != 0) {
        throw std::runtime_error("wine reg add HOME failed");
    }
    fs::create_directories(installation.dataDir);
    // The updater runs from where the registry says it is installed.
    fs::copy_file(executable_, updater, fs::copy_options::overwrite_existing);
    installation.writeFile(installation.installDir + "/BatchLauncher.vbs",
                           "' Starts the updater named by its one argument.\r\n");
    installation.writeFile(installation.applicationDir + "/PelorinCert.pem", "bundle");
    installation.writeFile(installation.applicationDir + "/UpdatePelorin.xml",
                           "<Update><Version>" + installedVersion + "</Version></Update>\n");
}

// Wine's drive Z: is the root of the native file system.
std::string WineTarget::updaterPath(const std::string& nativePath) const {
    return "Z:" + replaceAll(nativePath, "/", "\\");
}

UpdaterRun WineTarget::runUpdater(Installation& installation) {
    return runUpdater(installation, {});
}

UpdaterRun WineTarget::runUpdater(Installation& installation,
                                  const std::vector<std::string>& words) {
    std::error_code ignored;
    fs::remove(logPath(), ignored);
    if (browserStarted_) waitForBrowser();
    std::vector<std::string> command = {
        updaterPath(installation.installDir + "/PelorinAutoUpdate.exe")};
    command.insert(command.end(), words.begin(), words.end());
    UpdaterRun run;
    run.exitCode = runProgram(
        wineRun_, command,
        environmentWith({"WINEPREFIX=" + prefix_, "WINEPATH=" + updaterPath(standinsDir_),
                         "PELORIN_SCHTASKS_RECORD=" + updaterPath(schtasksRecordPath(installation)),
                         "HOME=" + installation.homeDir}),
        installation.root.path() + "/wine-output.txt");
    const std::string log = readFile(logPath());
    EXPECT_TRUE(everyLineEndsInCrLf(log)) << "a log line does not end in CR LF:\n" << log;
    run.log = replaceAll(log, "\r\n", "\n");
    return run;
}

std::vector<std::string> WineTarget::browserCommand(const std::string& scratchDir) {
    const std::string program = scratchDir + "/Pelorin.exe";
    fs::copy_file(fs::path(standinsDir_) / "browser.exe", program,
                  fs::copy_options::overwrite_existing);
    browserStarted_ = true;
    return {"/usr/bin/env", "WINEPREFIX=" + prefix_, wineRun_, updaterPath(program)};
}

// The updater reads text files in text mode, where CR LF is a line end.
std::string WineTarget::readText(const std::string& nativePath) const {
    return replaceAll(readFile(nativePath), "\r\n", "\n");
}

std::string WineTarget::schtasksRecordPath(const Installation& installation) {
    return installation.root.path() + "/schtasks-calls.txt";
}

std::string WineTarget::scheduledTaskFile(const std::string& name) const {
    return prefix_ + "/drive_c/windows/system32/tasks/" + name;
}

// Wine sets TEMP from the registry, so the log lands in the Wine user's own
// temporary folder, below AppData\Local as on Windows.
std::string WineTarget::logPath() const {
    return prefix_ + "/drive_c/users/" + wineUserName() +
           "/AppData/Local/Temp/PelorinAutoUpdate.log";
}
