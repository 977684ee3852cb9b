#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "core/updater_context.h"
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

// Another user may lay the log's name first in a folder others can write: never written through.
TEST(UpdateLog, NameLaidByAnotherUserIsNeverWrittenThrough) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    namespace fs = std::filesystem;
    const fs::perms shared = fs::perms::all | fs::perms::sticky_bit, own = fs::perms::owner_all,
                    group = own | fs::perms::group_write;
    // The folder, what lies at the log's name ("link" and "hard link": to another file), written?
    const std::tuple<fs::perms, std::string, bool> cases[] = {
        {shared, "link", false},   {own, "link", false},      {shared, "hard link", false},
        {shared, "theirs", false}, {group, "theirs", false},  {own, "theirs", true},
        {shared, "ours", true},    {own, "hard link", false},
    };
    for (const auto& [folder, atName, written] : cases) {
        Installation installation;
        const std::string other = installation.root.path() + "/other", log = installation.logPath();
        installation.writeFile(other, "another file");
        if (atName == "link") fs::create_symlink(other, log);
        if (atName == "hard link") fs::create_hard_link(other, log);
        if (atName.find("link") == std::string::npos) installation.writeFile(log, "laid");
        if (atName == "theirs" && ::chown(log.c_str(), 65534, 65534) != 0) FAIL() << "chown";
        fs::permissions(installation.tempDir, folder);
        const std::string text = installation.runUpdater({"x"}).log;
        EXPECT_EQ(text.find("\"x\" is invalid") != std::string::npos, written) << atName;
        EXPECT_EQ(readFile(other), "another file");
    }
}
