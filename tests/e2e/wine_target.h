// The Windows build under Wine, driven from the native test program
// (README.md): registry values through `wine reg`, paths through drive Z:,
// the log from the Wine user's Temp folder (Wine sets TEMP from the
// registry), the stand-ins of tools/windows/standins first on WINEPATH.
// PELORIN_E2E_WINDOWS_EXE names the build, PELORIN_E2E_WINDOWS_STANDINS its
// stand-ins (default: beside it), PELORIN_E2E_WINE_PREFIX the tests' own prefix.
#pragma once

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "e2e/child_process.h"
#include "e2e/scenario_runner.h"

class WineTarget : public UpdaterTarget {
public:
    static std::string setting(const char* name, const std::string& fallback = "") {
        const char* value = std::getenv(name);
        return value && *value ? value : fallback;
    }

    WineTarget() {
        if (!std::filesystem::is_regular_file(exe_))
            throw std::runtime_error("PELORIN_E2E_WINDOWS_EXE names no file: " + exe_);
        for (const char* standin : {"/schtasks.exe", "/xcopy.exe", "/browser.exe"}) {
            if (!std::filesystem::is_regular_file(standins_ + standin))
                throw std::runtime_error("no " + standins_ + standin + " (build-standins.sh)");
        }
    }

    // `wine WORDS...` in the prefix through wine-run.sh, with more environment
    // `settings`; its exit status.
    int wine(const std::vector<std::string>& words, const std::vector<std::string>& settings = {},
             const std::string& output = "/dev/null") const {
        std::vector<std::string> command = {"/usr/bin/env", "WINEPREFIX=" + prefix_,
                                            "WINEPATH=" + updaterPath(standins_)};
        command.insert(command.end(), settings.begin(), settings.end());
        command.push_back(wineRun_);
        command.insert(command.end(), words.begin(), words.end());
        return waitFor(spawn(command, output));
    }

    void layOut(Installation& installation, const std::string& version) override {
        for (const char* key : {"HKEY_CURRENT_USER\\SOFTWARE\\Halvorne",
                                "HKEY_CURRENT_USER\\SOFTWARE\\Wow6432Node\\Halvorne",
                                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorne",
                                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Halvorne"}) {
            wine({"reg", "delete", key, "/f"});  // fails when the key is not there
        }
        const auto add = [&](const std::string& key, const char* name, const std::string& data,
                             std::vector<std::string> view) {
            std::vector<std::string> words = {"reg", "add",    key,  "/v", name,
                                              "/t",  "REG_SZ", "/d", data, "/f"};
            words.insert(words.end(), view.begin(), view.end());
            if (wine(words) != 0) throw std::runtime_error("wine reg add " + key + " failed");
        };
        const std::string updater = installation.installDir + "/PelorinAutoUpdate.exe";
        const std::string keys = installation.hive + "\\SOFTWARE\\Halvorne\\";
        // A 32-bit installer on 64-bit Windows writes the machine keys into the
        // 32-bit view, where a 64-bit program would not find them.
        const std::string view = installation.hive == "HKEY_LOCAL_MACHINE" ? "/reg:32" : "/reg:64";
        add(keys + "Update", "path", updaterPath(updater), {view});
        add(keys + "Data", "path", updaterPath(installation.dataDir), {view});
        // Wine keeps the Linux HOME from Windows programs; libcurl looks for
        // an SFTP key below the HOME of the user's environment.
        add("HKEY_CURRENT_USER\\Environment", "HOME", updaterPath(installation.homeDir), {});
        std::filesystem::create_directories(installation.dataDir);
        std::filesystem::copy_file(exe_, updater,
                                   std::filesystem::copy_options::overwrite_existing);
        installation.writeFile(installation.installDir + "/BatchLauncher.vbs",
                               "' Starts the updater.\r\n");
        installation.writeFile(installation.applicationDir + "/PelorinCert.pem", "bundle");
        installation.writeFile(installation.applicationDir + "/UpdatePelorin.xml",
                               "<Update><Version>" + version + "</Version></Update>\n");
    }

    std::string updaterPath(const std::string& nativePath) const override {
        std::string path = "Z:" + nativePath;
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }

    UpdaterRun run(Installation& installation, const RunConditions& conditions) override {
        if (conditions.any()) return {-1, "", "no volumes or shorter time-outs under Wine"};
        return runWith(installation, {});
    }

    // The updater with `words`; every log line must end in CR LF.
    UpdaterRun runWith(Installation& installation, const std::vector<std::string>& words) {
        std::filesystem::remove(logPath());
        std::vector<std::string> command = {
            updaterPath(installation.installDir + "/PelorinAutoUpdate.exe")};
        command.insert(command.end(), words.begin(), words.end());
        UpdaterRun run;
        run.exitCode = wine(command,
                            {"PELORIN_SCHTASKS_RECORD=" + updaterPath(schtasksRecord(installation)),
                             "HOME=" + installation.homeDir},
                            installation.root.path() + "/wine-output.txt");
        const std::string log = readFile(logPath());
        run.log = readText(logPath());
        EXPECT_TRUE(
            run.log.find('\r') == std::string::npos && (log.empty() || log.back() == '\n') &&
            std::count(log.begin(), log.end(), '\r') == std::count(log.begin(), log.end(), '\n'))
            << "a log line does not end in CR LF:\n"
            << log;
        return run;
    }

    std::vector<std::string> browserCommand(const std::string& dir) override {
        std::filesystem::copy_file(standins_ + "/browser.exe", dir + "/Pelorin.exe",
                                   std::filesystem::copy_options::overwrite_existing);
        return {"/usr/bin/env", "WINEPREFIX=" + prefix_, wineRun_,
                updaterPath(dir + "/Pelorin.exe")};
    }
    // Wine names the Linux process after the Windows program it runs.
    std::string browserName() const override { return "Pelorin.exe"; }

    // The updater reads text files in text mode, where CR LF is a line end.
    std::string readText(const std::string& nativePath) const override {
        std::string text = readFile(nativePath);
        for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;)
            text.erase(at, 1);
        return text;
    }

    // The command lines the schtasks stand-in was given, one a line.
    static std::string schtasksRecord(const Installation& installation) {
        return installation.root.path() + "/schtasks-calls.txt";
    }
    std::string taskFile(const std::string& name) const {
        return prefix_ + "/drive_c/windows/system32/tasks/" + name;
    }
    std::string logPath() const {
        return prefix_ + "/drive_c/users/" + ::getpwuid(::getuid())->pw_name +
               "/AppData/Local/Temp/PelorinAutoUpdate.log";
    }

private:
    std::string exe_ = setting("PELORIN_E2E_WINDOWS_EXE");
    std::string standins_ =
        setting("PELORIN_E2E_WINDOWS_STANDINS",
                std::filesystem::path(exe_).parent_path().string() + "/standins");
    std::string prefix_ = setting("PELORIN_E2E_WINE_PREFIX", "/var/cache/pelorin/wine-prefix-e2e");
    std::string wineRun_ = PELORIN_SOURCE_DIR "/tools/windows/wine-run.sh";
};
