#include <gtest/gtest.h>

#include "support/installation.h"

namespace {

using Words = std::vector<std::string>;

// The first line after discovery's five: the action the command led to.
std::string actionLine(Installation& installation, const Words& words) {
    const UpdaterRun run = installation.runUpdater(words);
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<std::string> lines = Installation::bodyLines(run.log);
    return lines.size() > 5 ? lines[5] : "(no action line)";
}

}  // namespace

TEST(CommandDispatch, AcceptedFormsRegisterOrRemoveTheTask) {
    Installation installation;
    installation.layOutComplete();
    const std::string registering = "Attempting to register scheduler...";
    const std::string removing = "Attempting to de-register scheduler...";
    EXPECT_EQ(actionLine(installation, {" Schtask Install Admin "}), registering);
    EXPECT_EQ(actionLine(installation, {"schtask install nonadmin"}), registering);
    EXPECT_EQ(actionLine(installation, {"schtask", "install", "admin"}), registering);
    EXPECT_EQ(actionLine(installation, {"SCHTASK", " Install ", "NonAdmin"}), registering);
    EXPECT_EQ(actionLine(installation, {"schtask uninstall"}), removing);
    EXPECT_EQ(actionLine(installation, {"Schtask", "Uninstall"}), removing);
}

TEST(CommandDispatch, WrongWordCountsAndInnerWhiteSpaceAreInvalid) {
    Installation installation;
    installation.layOutComplete();
    const std::vector<std::pair<Words, std::string>> cases = {
        {{"schtask", "install admin"}, "schtask install admin"},
        {{"schtask", "uninstall", "now"}, "schtask uninstall now"},
        {{"schtask  uninstall"}, "schtask  uninstall"},
        {{"\tschtask uninstall"}, "\tschtask uninstall"},
        {{"schtask uninstall\t"}, "schtask uninstall\t"},
        {{"A", " b ", "c", "D  "}, "a  b  c d"},
        {{"schtask", "install", "admin", "now", "please"}, "schtask install admin now please"},
        {{"Schtask Install"}, "schtask install"},
    };
    for (const auto& [words, shown] : cases) {
        EXPECT_EQ(actionLine(installation, words), "Error! Command \"" + shown + "\" is invalid.");
    }
}

TEST(CommandDispatch, WithoutInstallationOnlyUninstallRuns) {
    Installation installation;
    const auto linesFor = [&](const Words& words) {
        return Installation::bodyLines(installation.runUpdater(words).log);
    };
    // Discovery's three lines, then the clean-up: the install is dropped.
    EXPECT_EQ(linesFor({"schtask install admin"}).size(), 5u);
    EXPECT_EQ(linesFor({}).size(), 5u);
    const std::vector<std::string> lines = linesFor({"schtask", "uninstall"});
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], "Attempting to de-register scheduler...");
}
