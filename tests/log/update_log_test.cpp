#include <gtest/gtest.h>

#include <filesystem>

#include "app/updater_context.h"
#include "support/installation.h"

// Each run truncates the log; without a temporary folder the run goes on all the same, logless.
TEST(UpdateLog, TruncatedByEachRunAndNotNeeded) {
    Installation installation;
    installation.runUpdater({"first"});
    const std::string log = installation.runUpdater({"second"}).log;
    EXPECT_EQ(log.find("\"first\""), std::string::npos);
    EXPECT_NE(log.find("\"second\""), std::string::npos);
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
              "[marker]\nFatal Error! level.\nError! level.\nWarning! level.\nlevel.\nTip: "
              "level.\nFatal Error! level.\nlevel.\nstate.\nError! state.\n"
              "Cleaning temporary files...\nTemporary files cleaned up successfully.\n");
}
