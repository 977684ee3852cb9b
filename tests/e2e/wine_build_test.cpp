// Every scenario folder under tests/e2e/scenarios, replayed against the
// Windows build under Wine as EndToEnd/WineBuild.Replays/<folder>, with the
// same expectations as the native build. They run when PELORIN_E2E_WINDOWS_EXE
// names the build (tools/windows/e2e.sh sets it up) and are skipped otherwise.
#include <gtest/gtest.h>

#include "e2e/scenario.h"
#include "e2e/scenario_runner.h"
#include "e2e/wine_target.h"

namespace {

class WineBuild : public ::testing::TestWithParam<std::string> {};

TEST_P(WineBuild, Replays) {
    if (WineTarget::windowsExecutable().empty()) {
        GTEST_SKIP() << "PELORIN_E2E_WINDOWS_EXE names no Windows build (tools/windows/e2e.sh "
                        "builds one and runs these tests)";
    }
    if (mainServerPort() == 0) {
        GTEST_SKIP() << "this build asks the main server at " << PELORIN_MAIN_MANIFEST_URL
                     << ", which the scenarios cannot serve";
    }
    const Scenario scenario = loadScenario(GetParam());
    SCOPED_TRACE(scenario.description);
    WineTarget target;
    replayScenario(scenario, target);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, WineBuild, ::testing::ValuesIn(scenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

}  // namespace
