#include <gtest/gtest.h>

#include <regex>

#include "app/updater_context.h"
#include "support/installation.h"

namespace {

// A context whose discovery fails (nothing in the registry): its log is open
// and its state is Fatal until a test sets another.
std::string logWrittenBy(Installation& installation, void (*write)(UpdaterContext&)) {
    installation.useInThisProcess();
    {
        UpdaterContext context;
        write(context);
    }
    return readFile(installation.logPath());
}

}  // namespace

TEST(UpdateLog, PrefixFollowsLevelAndDefaultFollowsState) {
    Installation installation;
    const std::string log = logWrittenBy(installation, [](UpdaterContext& context) {
        context.state = LogLevel::Info;
        context.log("[marker]", LogLevel::Info, false);
        for (int level : {-1, 0, 1, 2, 3, 4, 6}) context.log("level", level, true);
        for (int state : {3, 1, 0}) {
            context.state = state;
            context.log("Update failed", LogLevel::Default, true);
        }
        context.log("", LogLevel::Fatal, true);
        context.log("no stop", LogLevel::Info, false);
        context.log("Starting update process..", LogLevel::Info, true);
    });
    const std::string expected =
        "[marker]\n"
        "level.\nFatal Error! level.\nError! level.\nWarning! level.\nlevel.\nTip: level.\n"
        "level.\n"
        "Update failed.\nError! Update failed.\nFatal Error! Update failed.\n"
        "no stop\n"
        "Starting update process...\n"
        "Cleaning temporary files...\nTemporary files cleaned up successfully.\n";
    ASSERT_NE(log.find("[marker]"), std::string::npos);
    EXPECT_EQ(log.substr(log.find("[marker]")), expected);
}

TEST(UpdateLog, HeaderHasBannerAndStartTime) {
    Installation installation;
    const std::string log = logWrittenBy(installation, [](UpdaterContext&) {});
    const std::regex header(
        "\\*{15} PelorinAutoUpdate \\[2\\.5\\] \\*{14}\n\nStarted at: "
        "(Sunday|Monday|Tuesday|Wednesday|Thursday|Friday|Saturday), [A-Z][a-z]+ \\d\\d, \\d{4}, "
        "(0[1-9]|1[0-2]):[0-5]\\d:[0-5]\\d(am|pm)\\.\n[^]*");
    EXPECT_TRUE(std::regex_match(log, header)) << log;
}

TEST(UpdateLog, SecondRunLeavesOnlyItsOwnLines) {
    Installation installation;
    logWrittenBy(installation, [](UpdaterContext& context) { context.log("first run", 3, true); });
    const std::string log =
        logWrittenBy(installation, [](UpdaterContext& context) { context.log("second", 3, true); });
    EXPECT_EQ(log.find("first run"), std::string::npos);
    EXPECT_EQ(log.find("PelorinAutoUpdate ["), log.rfind("PelorinAutoUpdate ["));
    EXPECT_NE(log.find("second."), std::string::npos);
}

TEST(UpdateLog, MissingTemporaryDirectoryLeavesTheLogClosedAndTheRunUnchanged) {
    Installation installation;
    installation.useInThisProcess();
    ::setenv("TMPDIR", (installation.root.path() + "/no-such-dir").c_str(), 1);
    UpdaterContext context;
    EXPECT_FALSE(context.logOpen);
    EXPECT_EQ(context.state, LogLevel::Fatal);  // discovery ran all the same
    context.log("dropped", LogLevel::Info, true);
}
