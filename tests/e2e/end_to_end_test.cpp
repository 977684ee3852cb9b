// Every scenario folder under tests/e2e/scenarios, replayed against the
// native build. The tests are named EndToEnd/NativeBuild.Replays/<folder>;
// tests/CMakeLists.txt runs tests named EndToEnd*.* one at a time, because
// they serve the main server's fixed port and start processes named like
// the browser.
#include <gtest/gtest.h>

#include "e2e/native_target.h"
#include "e2e/scenario.h"
#include "e2e/scenario_runner.h"

namespace {

class NativeBuild : public ::testing::TestWithParam<std::string> {};

TEST_P(NativeBuild, Replays) {
    if (mainServerPort() == 0) {
        GTEST_SKIP() << "this build asks the main server at " << PELORIN_MAIN_MANIFEST_URL
                     << "; the scenarios serve it at https://localhost:PORT/Win/UpdateWin.xml "
                        "(configure with PELORIN_MAIN_MANIFEST_URL, as the debug-asan preset "
                        "does)";
    }
    const Scenario scenario = loadScenario(GetParam());
    SCOPED_TRACE(scenario.description);
    NativeTarget target;
    replayScenario(scenario, target);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, NativeBuild, ::testing::ValuesIn(scenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

}  // namespace
