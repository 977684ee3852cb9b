#include "e2e/native_target.h"

#include <filesystem>

namespace {

// The launcher that makes the run's conditions (conditioned_run.cpp).
std::vector<std::string> launcherFor(const Installation& installation,
                                     const RunConditions& conditions) {
    std::vector<std::string> words = {PELORIN_CONDITIONED_RUN_EXE};
    if (conditions.transferTimeouts) {
        words.insert(
            words.end(),
            {"--connect-seconds", std::to_string(conditions.transferTimeouts->connectSeconds),
             "--low-speed-seconds", std::to_string(conditions.transferTimeouts->lowSpeedSeconds)});
    }
    for (std::size_t i = 0; i < conditions.volumes.size(); ++i) {
        const Volume& volume = conditions.volumes[i];
        words.insert(
            words.end(),
            {"--volume", volume.path, installation.root.path() + "/.volume-" + std::to_string(i),
             volume.size, std::to_string(volume.freeBytes), volume.readOnly ? "1" : "0",
             volume.fullOnceWritten, std::to_string(volume.fullAtBytes)});
    }
    return words;
}

}  // namespace

void NativeTarget::layOut(Installation& installation, const std::string& installedVersion) {
    installation.layOutComplete(installedVersion);
}

std::string NativeTarget::updaterPath(const std::string& nativePath) const {
    return nativePath;
}

UpdaterRun NativeTarget::runUpdater(Installation& installation) {
    return installation.runUpdater();
}

UpdaterRun NativeTarget::runUnder(Installation& installation, const RunConditions& conditions) {
    if (conditions.volumes.empty() && !conditions.transferTimeouts) return runUpdater(installation);
    UpdaterRun run = installation.finishUpdater(
        installation.startUpdater({}, launcherFor(installation, conditions)));
    if (run.exitCode == 77) run.notRun = "no mount namespace for the volumes";
    return run;
}

// The updater knows the browser by its executable's file name alone.
std::vector<std::string> NativeTarget::browserCommand(const std::string& scratchDir) {
    const std::string program = scratchDir + "/Pelorin";
    std::filesystem::copy_file("/bin/sleep", program,
                               std::filesystem::copy_options::overwrite_existing);
    return {program, "600"};
}

// Native files are read byte for byte: a CR the updater wrote must show.
std::string NativeTarget::readText(const std::string& nativePath) const {
    return readFile(nativePath);
}
