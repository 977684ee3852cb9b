// The Windows build under Wine (docs/windows_build.md; set up by tools/windows/e2e.sh, skipped
// without PELORIN_E2E_WINDOWS_EXE): every scenario, the task commands, the launcher.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "e2e/scenario_runner.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

std::string setting(const char* name) {
    return std::getenv(name) ? std::getenv(name) : "";
}

// `utf8` as regedit writes a .reg file, UTF-16 after its mark, so that a path
// outside ASCII reaches the registry whatever the code page (the scenarios'
// characters all lie below U+10000).
std::string utf16RegFile(const std::string& utf8) {
    std::string bytes = "\xff\xfe";
    for (std::size_t at = 0; at < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        const int length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : 3;
        std::uint32_t point = length == 1 ? lead : lead & (0x3f >> (length - 1));
        for (int next = 1; next < length; ++next)
            point = point << 6 | (static_cast<unsigned char>(utf8[at + next]) & 0x3f);
        at += length;
        bytes += static_cast<char>(point & 0xff), bytes += static_cast<char>(point >> 8);
    }
    return bytes;
}

// Every Wine start writes the loader's trace and its errors into a file of that start, printed
// when a program in it failed its start (once seen: status c0000135, a DLL not found).
const char* const loaderTrace = "WINEDEBUG=-all,err+module,+loaddll";

struct WineTarget : UpdaterTarget {
    const std::string exe = setting("PELORIN_E2E_WINDOWS_EXE");
    const std::string standins = setting("PELORIN_E2E_WINDOWS_STANDINS");
    const std::string prefix = setting("PELORIN_E2E_WINE_PREFIX");
    const TempDir starts;
    mutable int startCount = 0;

    // `wine-run.sh` in the tests' own prefix, with more `environment`, tracing the start.
    Lines wineRun(const Lines& environment = {}) const {
        Lines command = {"/usr/bin/env", "WINEPREFIX=" + prefix, loaderTrace};
        command.insert(command.end(), environment.begin(), environment.end());
        command.push_back(PELORIN_SOURCE_DIR "/tools/windows/wine-run.sh");
        return command;
    }
    // `wine WORDS...` with the stand-ins first on the program path; its exit status. Its
    // output goes to `output`, else to a file of its own.
    int wine(const Lines& words, const Lines& environment = {}, std::string output = "") const {
        Lines variables = {"WINEPATH=" + updaterPath(standins)};
        variables.insert(variables.end(), environment.begin(), environment.end());
        Lines command = wineRun(variables);
        command.insert(command.end(), words.begin(), words.end());
        if (output.empty()) output = starts.path() + "/start-" + std::to_string(++startCount);
        const int status = waitFor(spawn(command, output));
        const std::string trace = readFile(output);
        if (trace.find("err:module") != std::string::npos)
            ADD_FAILURE() << "a program failed its start under `wine " << words[0] << "`:\n"
                          << trace;
        return status;
    }
    // A 32-bit installer on 64-bit Windows writes machine keys into the 32-bit view. Wine
    // keeps the Linux HOME from Windows programs, but libcurl looks there for an SFTP key.
    bool useSignedUpdater(Installation& installation) override {
        const fs::path signedExe = fs::path(exe).parent_path() / "PelorinAutoUpdate-signed.exe";
        if (!fs::exists(signedExe)) return false;
        fs::copy_file(signedExe, installation.installDir + "/PelorinAutoUpdate.exe",
                      fs::copy_options::overwrite_existing);
        return true;
    }
    void layOut(Installation& installation, const std::string& version) override {
        const auto value = [&](const char* name, const std::string& path) {
            return '"' + std::string(name) + "\"=\"" +
                   std::regex_replace(updaterPath(path), std::regex(R"(\\)"), R"(\\)") + "\"\n";
        };
        const std::string updater = installation.installDir + "/PelorinAutoUpdate.exe";
        const std::string keys = "\n[" + installation.hive + "\\SOFTWARE\\Halvorne\\";
        std::string clear = "Windows Registry Editor Version 5.00\n", add = clear;
        for (const char* hive : {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"})
            for (const char* key :
                 {"\\SOFTWARE\\Halvorne]\n", "\\SOFTWARE\\Wow6432Node\\Halvorne]\n"})
                clear += "\n[-" + std::string(hive) + key;
        for (const std::string& setting : proxySettings) clear += "\n" + setting + "=-\n";
        add += keys + "Update]\n" + value("path", updater) + keys + "Data]\n" +
               value("path", installation.dataDir) + "\n[HKEY_CURRENT_USER\\Environment]\n" +
               value("HOME", installation.homeDir);
        const std::string clearFile = installation.root.path() + "/clear.reg",
                          addFile = installation.root.path() + "/add.reg";
        installation.writeFile(clearFile, clear);
        installation.writeFile(addFile, utf16RegFile(add));
        const bool machine = installation.hive == "HKEY_LOCAL_MACHINE";
        if (wine({"reg", "import", updaterPath(clearFile), "/reg:64"}) ||
            wine({"reg", "import", updaterPath(addFile), machine ? "/reg:32" : "/reg:64"}))
            throw std::runtime_error("wine reg import failed");
        fs::create_directories(installation.dataDir);
        fs::copy_file(exe, updater, fs::copy_options::overwrite_existing);
        installation.writeFile(installation.installDir + "/BatchLauncher.vbs",
                               "' Starts the updater.\r\n");
        installation.writeFile(installation.applicationDir + "/PelorinCert.pem", "bundle");
        installation.writeFile(installation.applicationDir + "/UpdatePelorin.xml",
                               "<Update><Version>" + version + "</Version></Update>\n");
    }
    // Each as a .reg key and value name; the machine's in both views, for the
    // 32-bit updater and for the x86_64 test build.
    const std::string connections =
        R"(Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections)";
    const Lines proxySettings = {
        "[HKEY_CURRENT_USER\\" + connections + "]\n\"DefaultConnectionSettings\"",
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\" + connections.substr(9) +
            "]\n\"WinHttpSettings\"",
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\" + connections.substr(9) + "]\n\"WinHttpSettings\""};
    // The settings' binary form: magic, 0, flags, then each text after its length
    // (the machine's has no script).
    bool setSystemProxy(bool machine, const std::string& proxy, const std::string& bypass,
                        const std::string& script) override {
        std::string bytes, hex;
        // script "detect": automatic detection on (flags 8), direct otherwise.
        const bool detect = script == "detect";
        const std::uint32_t flags = detect ? 9u : proxy.empty() ? 4u : 2u;
        for (std::uint32_t word : {machine ? 0x18u : 0x46u, 0u, flags})
            bytes.append(reinterpret_cast<char*>(&word), 4);
        for (const std::string& text : {proxy, bypass, detect ? std::string() : script}) {
            const auto size = static_cast<std::uint32_t>(text.size());
            bytes.append(reinterpret_cast<const char*>(&size), 4) += text;
        }
        char two[4];
        for (unsigned char byte : bytes) std::snprintf(two, sizeof two, "%02x,", byte), hex += two;
        const std::string file = prefix + "/proxy.reg";
        std::ofstream reg(file);
        reg << "Windows Registry Editor Version 5.00\n";
        for (std::size_t i = machine ? 1 : 0; i <= (machine ? 2u : 0u); ++i)
            reg << "\n" << proxySettings[i] << "=hex:" << hex.substr(0, hex.size() - 1) << "\n";
        reg.close();
        return wine({"reg", "import", updaterPath(file), "/reg:64"}) == 0;
    }
    std::string releaseUpdateFolder() override {
        static const TempDir folder;
        if (!fs::exists(folder.path() + "/PelorinAutoUpdate.exe")) {
            fs::copy_file(exe, folder.path() + "/PelorinAutoUpdate.exe");
            fs::copy_file(PELORIN_SOURCE_DIR "/tools/bundle/BatchLauncher.vbs",
                          folder.path() + "/BatchLauncher.vbs");
        }
        return folder.path();
    }
    std::string updaterPath(const std::string& nativePath) const override {
        std::string path = "Z:" + nativePath;
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    UpdaterRun run(Installation& installation, const RunConditions& conditions) override {
        return conditions.launcher.empty()
                   ? runWith(installation, {}, conditions.environment)
                   : UpdaterRun{-1, "", "no volumes or shorter time-outs under Wine"};
    }
    // The updater with `words`; every line of its log must end in CR LF.
    UpdaterRun runWith(Installation& installation, const Lines& words,
                       const Lines& environment = {}) {
        fs::remove(logPath());
        Lines command = {updaterPath(installation.installDir + "/PelorinAutoUpdate.exe")};
        command.insert(command.end(), words.begin(), words.end());
        UpdaterRun run;
        Lines variables = {"PELORIN_SCHTASKS_RECORD=" + updaterPath(schtasksRecord(installation)),
                           "HOME=" + installation.homeDir};
        variables.insert(variables.end(), environment.begin(), environment.end());
        run.exitCode = wine(command, variables, installation.root.path() + "/wine-output.txt");
        const std::string log = readFile(logPath());
        run.log = readText(logPath());
        EXPECT_TRUE(
            run.log.find('\r') == std::string::npos && (log.empty() || log.back() == '\n') &&
            std::count(log.begin(), log.end(), '\r') == std::count(log.begin(), log.end(), '\n'))
            << "a log line does not end in CR LF:\n"
            << log;
        return run;
    }
    Lines browserCommand(const std::string& dir) override {
        fs::copy_file(standins + "/browser.exe", dir + "/Pelorin.exe",
                      fs::copy_options::overwrite_existing);
        Lines command = wineRun();
        command.push_back(updaterPath(dir + "/Pelorin.exe"));
        return command;
    }
    Lines holderCommand(const std::string& path, const std::string& marker) override {
        const std::string holder = fs::path(marker).parent_path() / "holder.exe";
        fs::copy_file(standins + "/browser.exe", holder, fs::copy_options::overwrite_existing);
        Lines command = wineRun();
        command.insert(command.end(),
                       {updaterPath(holder), updaterPath(path), updaterPath(marker)});
        return command;
    }
    // Wine names the Linux process after the Windows program it runs.
    std::string browserName() const override { return "Pelorin.exe"; }
    // The updater reads text files in text mode, where CR LF is a line end.
    std::string readText(const std::string& nativePath) const override {
        return std::regex_replace(readFile(nativePath), std::regex("\r\n"), "\n");
    }
    // Where the schtasks stand-in records the command lines it was given.
    static std::string schtasksRecord(const Installation& installation) {
        return installation.root.path() + "/schtasks-calls.txt";
    }
    std::string logPath() const {
        return prefix + "/drive_c/users/" + ::getpwuid(::getuid())->pw_name +
               "/AppData/Local/Temp/PelorinAutoUpdate.log";
    }
};

class WineBuild : public ::testing::TestWithParam<std::string> {};

TEST_P(WineBuild, Replays) {
    WineTarget target;
    if (target.exe.empty() || !mainServerPort())
        GTEST_SKIP() << "no Windows build or local main server";
    replayScenario(GetParam(), target);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, WineBuild, ::testing::ValuesIn(scenarioNames()),
                         [](const auto& info) { return info.param; });

// The task commands on one installation: Wine's schtasks handles the definition file, the stand-in
// the hourly form Wine's cannot create; schtasks' command lines compared byte for byte.
TEST(EndToEndWineBuild, ScheduledTaskCommands) {
    WineTarget target;
    if (target.exe.empty()) GTEST_SKIP() << "no Windows build";
    Installation installation;
    target.layOut(installation, "1.0");
    const std::string dir = target.updaterPath(installation.installDir);
    const std::string definition = installation.installDir + "/PelorinUpdateTask.xml";
    const std::string del = "schtasks /delete /tn PelorinUpdateTask /F \n";
    const std::string fromXml =
        "schtasks /Create /xml \"" + dir + "\\PelorinUpdateTask.xml\" /TN \"PelorinUpdateTask\"\n";
    const std::string
        hourly = "schtasks /Create /SC HOURLY /MO 5 /TN PelorinUpdateTask /TR  \"wscript \\\"" +
                 dir + "\\BatchLauncher.vbs\\\" \\\"" + dir + "\\PelorinAutoUpdate.exe\\\"\"",
        system = " /RL Highest /RU System\n";
    const Lines registered = {"Attempting to register scheduler...",
                              "Schedule registered at: <any>.",
                              "Scheduler registered successfully."};
    const Lines deregistered = {"Attempting to de-register scheduler...",
                                "Schedule de-registered at: <any>.",
                                "Scheduler de-registered successfully."};
    const Lines notDeregistered = {deregistered[0], "Error! Failed to de-register scheduler."};
    const struct {
        Lines words;
        bool definition, task;
        Lines log;
        std::string calls;
    } steps[] = {
        {{"schtask install admin"}, true, true, registered, del + fromXml},
        {{"schtask uninstall"}, false, false, deregistered, del},
        {{"schtask uninstall"}, false, false, notDeregistered, del},
        {{"schtask", "install", "admin"}, false, false, registered, del + hourly + system},
        {{"schtask install nonadmin"}, true, false, registered, del + hourly + "\n"},
    };
    // The definition the bundle ships, naming this installation's folder.
    std::string shipped = readFile(PELORIN_SOURCE_DIR "/tools/bundle/PelorinUpdateTask.xml.in");
    for (std::size_t at; (at = shipped.find("@UPDATER_DIR@")) != std::string::npos;)
        shipped.replace(at, 13, dir);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.words[0] + (step.definition ? " with a definition" : ""));
        if (step.definition) installation.writeFile(definition, shipped);
        fs::remove(WineTarget::schtasksRecord(installation));
        Lines expected = {"Locating installation type...", "User level installation found.",
                          "Reading installation information...", "Locating installation paths...",
                          "Installation paths located successfully."};
        expected.insert(expected.end(), step.log.begin(), step.log.end());
        expected.insert(expected.end(), {"Cleaning temporary files...",
                                         "Temporary files cleaned up successfully."});
        const UpdaterRun run = target.runWith(installation, step.words);
        const std::string difference = logDifference(expected, Installation::bodyLines(run.log));
        EXPECT_TRUE(difference.empty()) << difference;
        EXPECT_EQ(readFile(WineTarget::schtasksRecord(installation)), step.calls);
        EXPECT_FALSE(fs::exists(definition)) << "the definition is used once";
        const std::string task =
            readFile(target.prefix + "/drive_c/windows/system32/tasks/PelorinUpdateTask");
        EXPECT_EQ(task.find("<Description>Keeps the Pelorin") != std::string::npos, step.task);
    }
}

// The shipped launcher under wscript starts the updater it is given, which runs to its end.
TEST(EndToEndWineBuild, LauncherStartsTheUpdaterItIsGiven) {
    WineTarget target;
    if (target.exe.empty()) GTEST_SKIP() << "no Windows build";
    Installation installation;
    target.layOut(installation, "1.0");
    const std::string launcher = installation.installDir + "/BatchLauncher.vbs";
    fs::copy_file(PELORIN_SOURCE_DIR "/tools/bundle/BatchLauncher.vbs", launcher,
                  fs::copy_options::overwrite_existing);
    fs::remove(target.logPath());
    ASSERT_EQ(target.wine({"wscript", target.updaterPath(launcher),
                           target.updaterPath(installation.installDir + "/PelorinAutoUpdate.exe")}),
              0);
    const std::string end = "Temporary files cleaned up successfully.";
    std::string log;
    for (int poll = 0; poll < 600 && log.find(end) == std::string::npos;
         ++poll, log = readFile(target.logPath()))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(log.find("Starting update process..."), std::string::npos) << log;
    EXPECT_NE(log.find(end), std::string::npos) << log;
}

}  // namespace
