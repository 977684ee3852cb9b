#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "app/updater_context.h"
#include "support/installation.h"

// Each run truncates the log and starts it with the banner and its start time;
// without a temporary folder there is no log, and the run goes on all the same.
TEST(UpdateLog, HeaderAndTruncation) {
    Installation installation;
    installation.runUpdater({"first"});
    const std::string log = installation.runUpdater({"second"}).log;
    EXPECT_TRUE(std::regex_match(
        log,
        std::regex("\\*{15} PelorinAutoUpdate \\[2\\.5\\] \\*{14}\n\nStarted at: [A-Z][a-z]+day, "
                   "[A-Z][a-z]+ \\d\\d, \\d{4}, (0[1-9]|1[0-2]):[0-5]\\d:[0-5]\\d[ap]m\\.\n"
                   "[^*]*\"second\"[^*]*")))
        << log;
    std::filesystem::remove_all(installation.tempDir);
    EXPECT_EQ(installation.runUpdater({"schtask uninstall"}).exitCode, 0);
}

// Discovery fails (nothing in the registry), so the state is Fatal until set.
TEST(UpdateLog, PrefixFollowsLevelAndDefaultFollowsState) {
    Installation installation;
    installation.useInThisProcess();
    {
        UpdaterContext context;
        context.log("[marker]", LogLevel::Info, false);
        for (int level : {0, 1, 2, 3, 4, 5, 6}) context.log("level", level, true);
        for (int state : {3, 1}) {
            context.state = state;
            context.log("state", LogLevel::Default, true);
        }
        context.log("", LogLevel::Fatal, true);
    }
    const std::string log = readFile(installation.logPath());
    EXPECT_EQ(log.substr(log.find("[marker]")),
              "[marker]\nFatal Error! level.\nError! level.\nWarning! level.\nlevel.\nTip: level.\nFatal Error! level.\n"
              "level.\nstate.\nError! state.\nCleaning temporary files...\n"
              "Temporary files cleaned up successfully.\n");
}
