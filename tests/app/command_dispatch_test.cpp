#include <gtest/gtest.h>

#include "support/installation.h"

// The line after discovery's five: what the command led to.
TEST(CommandDispatch, WordsLeadToTheirAction) {
    const std::string registering = "Attempting to register scheduler...";
    const std::string removing = "Attempting to de-register scheduler...";
    const struct {
        std::vector<std::string> words;
        std::string action;
    } cases[] = {
        {{" Schtask Install Admin "}, registering},
        {{"schtask install nonadmin"}, registering},
        {{"schtask", "install", "admin"}, registering},
        {{"SCHTASK", " Install ", "NonAdmin"}, registering},
        {{"schtask uninstall"}, removing},
        {{"Schtask", "Uninstall"}, removing},
        {{"schtask", "install admin"}, "Error! Command \"schtask install admin\" is invalid."},
        {{"schtask", "uninstall", "now"}, "Error! Command \"schtask uninstall now\" is invalid."},
        {{"schtask  uninstall"}, "Error! Command \"schtask  uninstall\" is invalid."},
        {{"\tschtask uninstall"}, "Error! Command \"\tschtask uninstall\" is invalid."},
        {{"schtask uninstall\t"}, "Error! Command \"schtask uninstall\t\" is invalid."},
        {{"A", " b ", "c", "D  "}, "Error! Command \"a  b  c d\" is invalid."},
        {{"schtask", "install", "admin", "now", "please"},
         "Error! Command \"schtask install admin now please\" is invalid."},
        {{"Schtask Install"}, "Error! Command \"schtask install\" is invalid."},
    };
    Installation installation;
    installation.layOutComplete();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words.front());
        const UpdaterRun run = installation.runUpdater(c.words);
        EXPECT_EQ(run.exitCode, 0);
        const std::vector<std::string> lines = Installation::bodyLines(run.log);
        EXPECT_EQ(lines.size() > 5 ? lines[5] : "(none)", c.action);
    }
}

// Without an installation no update starts and no task is registered.
TEST(CommandDispatch, WithoutInstallationOnlyUninstallRuns) {
    Installation installation;
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{}, std::vector<std::string>{"schtask install admin"}}) {
        EXPECT_EQ(Installation::bodyLines(installation.runUpdater(words).log).size(), 5u);
    }
}
