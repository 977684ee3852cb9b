// Every scenario replayed against the native build as EndToEnd/NativeBuild.Replays/<folder>.
#include <gtest/gtest.h>

#include "e2e/scenario_runner.h"

class NativeBuild : public ::testing::TestWithParam<std::string> {};

TEST_P(NativeBuild, Replays) {
    if (mainServerPort() == 0) GTEST_SKIP() << "the main manifest URL is not on localhost";
    UpdaterTarget target;
    replayScenario(GetParam(), target);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, NativeBuild, ::testing::ValuesIn(scenarioNames()),
                         [](const auto& info) { return info.param; });
