#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "app/updater_context.h"
#include "support/installation.h"

// Discovery fails (nothing in the registry), so the state is Fatal until set.
TEST(UpdateLog, PrefixFollowsLevelAndDefaultFollowsState) {
    Installation installation;
    installation.useInThisProcess();
    {
        UpdaterContext context;
        context.state = LogLevel::Info;
        context.log("[marker]", LogLevel::Info, false);
        for (int level : {-1, 0, 1, 2, 3, 4, 6}) context.log("level", level, true);
        for (int state : {3, 1, 0}) {
            context.state = state;
            context.log("Update failed", LogLevel::Default, true);
        }
        context.log("", LogLevel::Fatal, true);
        context.log("Starting update process..", LogLevel::Info, true);
    }
    const std::string log = readFile(installation.logPath());
    EXPECT_EQ(log.substr(log.find("[marker]")),
              "[marker]\nlevel.\nFatal Error! level.\nError! level.\nWarning! level.\nlevel.\n"
              "Tip: level.\nlevel.\nUpdate failed.\nError! Update failed.\n"
              "Fatal Error! Update failed.\nStarting update process...\n"
              "Cleaning temporary files...\nTemporary files cleaned up successfully.\n");
}

// Each run truncates the log and starts it with the banner and its start time.
TEST(UpdateLog, HeaderHasBannerAndStartTime) {
    Installation installation;
    installation.runUpdater({"first"});
    const std::string log = installation.runUpdater({"second"}).log;
    const std::regex header(
        "\\*{15} PelorinAutoUpdate \\[2\\.5\\] \\*{14}\n\nStarted at: "
        "(Sunday|Monday|Tuesday|Wednesday|Thursday|Friday|Saturday), [A-Z][a-z]+ \\d\\d, \\d{4}, "
        "(0[1-9]|1[0-2]):[0-5]\\d:[0-5]\\d(am|pm)\\.\n[^*]*\"second\"[^*]*");
    EXPECT_TRUE(std::regex_match(log, header)) << log;
}

// Without a temporary folder there is no log, and the run goes on all the same.
TEST(UpdateLog, MissingTemporaryDirectoryLeavesTheLogClosed) {
    Installation installation;
    std::filesystem::remove_all(installation.tempDir);
    EXPECT_EQ(installation.runUpdater({"schtask uninstall"}).exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(installation.logPath()));
}
