// The 32-bit updater on 64-bit Windows (a 64-bit Wine prefix): a 32-bit
// installer writes the machine keys into the 32-bit view of
// HKEY_LOCAL_MACHINE\SOFTWARE, where a 64-bit program would not find them.
// Without the client key, discovery reads the form without "Wow6432Node", and
// the 32-bit view answers it. Skipped unless PELORIN_E2E_WINDOWS_EXE names the
// build (tools/windows/e2e.sh).
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e/log_match.h"
#include "e2e/wine_target.h"

namespace {

const char* const updateKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorne\\Update";

}  // namespace

TEST(EndToEndWineBuildRegistry, MachineKeysOnlyInThe32BitViewAreFoundWithoutWow6432Node) {
    if (WineTarget::windowsExecutable().empty()) {
        GTEST_SKIP() << "PELORIN_E2E_WINDOWS_EXE names no Windows build "
                        "(tools/windows/e2e.sh builds one and runs these tests)";
    }
    Installation installation(Installation::Level::System);
    WineTarget target;
    target.writeRegistryIn32BitView();
    target.layOut(installation, "1.0");
    ASSERT_EQ(target.runWine({"reg", "query", updateKey, "/reg:32"}, "/dev/null"), 0);
    ASSERT_NE(target.runWine({"reg", "query", updateKey, "/reg:64"}, "/dev/null"), 0)
        << "the keys are in the 64-bit view too, so the test proves nothing";

    std::vector<std::string> log =
        Installation::bodyLines(target.runUpdater(installation, {"schtask uninstall"}).log);
    log.resize(std::min<std::size_t>(log.size(), 5));
    EXPECT_EQ(
        logDifference({"Locating installation type...", "System level installation found.",
                       "Reading installation information...", "Locating installation paths...",
                       "Installation paths located successfully."},
                      log),
        "");
}
