// Every scenario replayed against the native build as
// EndToEnd/NativeBuild.Replays/<folder>. Tests named EndToEnd* take turns
// (tests/CMakeLists.txt): they serve the main server's fixed port and start
// processes named like the browser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "e2e/scenario_runner.h"

namespace {

// The registry stand-in, POSIX paths, "\n" line ends.
class NativeTarget : public UpdaterTarget {
public:
    void layOut(Installation& installation, const std::string& version) override {
        installation.layOutComplete(version);
    }
    std::string updaterPath(const std::string& nativePath) const override { return nativePath; }
    UpdaterRun run(Installation& installation, const RunConditions& conditions) override {
        std::vector<std::string> launcher;
        if (!conditions.peakMemoryFile.empty()) {
            // AddressSanitizer keeps no freed memory aside, which would count
            // every short-lived buffer.
            const char* asan = std::getenv("ASAN_OPTIONS");
            const std::string env =
                "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":quarantine_size_mb=0";
            launcher = {"/usr/bin/time",           "-f",           "%M", "-o",
                        conditions.peakMemoryFile, "/usr/bin/env", env};
        }
        launcher.insert(launcher.end(), conditions.launcher.begin(), conditions.launcher.end());
        UpdaterRun run = installation.finishUpdater(installation.startUpdater({}, launcher));
        if (run.exitCode == 77) run.notRun = "no mount namespace for the volumes";
        return run;
    }
    // The updater knows the browser by its executable's file name alone.
    std::vector<std::string> browserCommand(const std::string& dir) override {
        std::filesystem::copy_file("/bin/sleep", dir + "/Pelorin",
                                   std::filesystem::copy_options::overwrite_existing);
        return {dir + "/Pelorin", "600"};
    }
    std::string browserName() const override { return "Pelorin"; }
    // Byte for byte: a CR the updater wrote must show.
    std::string readText(const std::string& nativePath) const override {
        return readFile(nativePath);
    }
};

class NativeBuild : public ::testing::TestWithParam<std::string> {};

TEST_P(NativeBuild, Replays) {
    if (mainServerPort() == 0) GTEST_SKIP() << "the main manifest URL is not on localhost";
    NativeTarget target;
    replayScenario(GetParam(), target);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, NativeBuild, ::testing::ValuesIn(scenarioNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
