// The Windows build, run under Wine from this native test program. The
// installation lies in the native file system and the updater sees it
// through Wine's drive Z: (the root); the registry keys are written with
// Wine's reg, the log is read from the Wine user's temporary folder (Wine
// sets TEMP and TMP from the registry, whatever the environment says), and
// the stand-ins of tools/windows/standins come first on the program search
// path (WINEPATH) for what Wine 10 lacks.
//
// The environment chooses the build: PELORIN_E2E_WINDOWS_EXE names
// PelorinAutoUpdate.exe; PELORIN_E2E_WINDOWS_STANDINS the folder of the built
// stand-ins (default: "standins" beside the .exe); PELORIN_E2E_WINE_PREFIX
// the Wine prefix, one of these tests' own, as they rewrite its registry,
// log and scheduled tasks (default /var/cache/pelorin/wine-prefix-e2e).
#pragma once

#include <string>
#include <vector>

#include "e2e/updater_target.h"

class WineTarget : public UpdaterTarget {
public:
    // The .exe named by PELORIN_E2E_WINDOWS_EXE; empty when none is named.
    static std::string windowsExecutable();

    // Throws std::runtime_error when the build or its stand-ins are missing.
    WineTarget();

    void layOut(Installation& installation, const std::string& installedVersion) override;
    std::string updaterPath(const std::string& nativePath) const override;
    UpdaterRun runUpdater(Installation& installation) override;
    std::vector<std::string> browserCommand(const std::string& scratchDir) override;
    std::string readText(const std::string& nativePath) const override;

    // Runs the updater of `installation` with these words on its command line.
    // The log must end every line in CR LF (a failure is reported); it comes
    // back with "\n" line ends.
    UpdaterRun runUpdater(Installation& installation, const std::vector<std::string>& words);

    // From now on, layOut writes the registry keys into the 32-bit view
    // ("reg add ... /reg:32"), where a 32-bit installer on 64-bit Windows puts
    // them; the 64-bit view does not see them there.
    void writeRegistryIn32BitView() { registryView_ = "/reg:32"; }

    // Runs a program of the prefix (`wine WORDS...`), its output going to
    // `outputPath`; gives its exit status.
    int runWine(const std::vector<std::string>& words, const std::string& outputPath) const;

    // Where the schtasks stand-in writes the command lines it was given during
    // the runs of `installation`, one a line.
    static std::string schtasksRecordPath(const Installation& installation);
    // The file in which Wine keeps the scheduled task `name`.
    std::string scheduledTaskFile(const std::string& name) const;
    // Where the updater writes its log in the prefix.
    std::string logPath() const;

private:
    void clearRegistry() const;
    void addRegistryValue(const std::string& key, const std::string& value) const;

    std::string executable_;
    std::string standinsDir_;
    std::string prefix_;
    std::string wineRun_;
    std::string registryView_ = "/reg:64";
    bool browserStarted_ = false;
};
