// The task commands run through the real executable; a stand-in crontab
// first on PATH keeps the table in a file of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/installation.h"

namespace {

using Lines = std::vector<std::string>;

// The lines after discovery's five, without the clean-up's two and with the
// time of the change cut off.
Lines actionLines(Installation& installation, const std::vector<std::string>& words,
                  std::size_t discoveryLines = 5) {
    Lines lines = Installation::bodyLines(installation.runUpdater(words).log);
    if (lines.size() < discoveryLines + 2) return lines;
    lines = Lines(lines.begin() + static_cast<long>(discoveryLines), lines.end() - 2);
    for (std::string& line : lines) {
        const std::size_t colon = line.find(" at: ");
        if (colon != std::string::npos) line = line.substr(0, colon + 5) + "<time>";
    }
    return lines;
}

const Lines registered = {"Attempting to register scheduler...", "Schedule registered at: <time>",
                          "Scheduler registered successfully."};

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

// What cron hands to the shell of an entry's command: the text up to the first
// '%' that no backslash escapes, with the escaping backslashes dropped.
std::string commandAsCronRunsIt(const std::string& entry) {
    std::size_t start = 0;
    for (int field = 0; field < 5; ++field) start = entry.find(' ', start) + 1;
    std::string command;
    for (std::size_t i = start; i < entry.size() && entry[i] != '\n'; ++i) {
        if (entry[i] == '\\' && i + 1 < entry.size() && entry[i + 1] == '%') continue;
        if (entry[i] == '%' && (i == 0 || entry[i - 1] != '\\')) break;
        command += entry[i];
    }
    return command;
}

}  // namespace

TEST(ScheduledTask, AdministrativeFormUsesTheDefinitionOnceThenTheHourlyEntry) {
    Installation installation;
    installation.layOutComplete();
    const std::string definition = installation.installDir + "/PelorinUpdateTask.cron";
    installation.writeFile(definition, "30 2 * * * /bin/true\n");
    EXPECT_EQ(actionLines(installation, {"schtask install admin"}), registered);
    EXPECT_EQ(readFile(installation.crontabPath()), "30 2 * * * /bin/true # PelorinUpdateTask\n");
    EXPECT_FALSE(std::filesystem::exists(definition));

    EXPECT_EQ(actionLines(installation, {"schtask", "install", "admin"}), registered);
    EXPECT_EQ(readFile(installation.crontabPath()),
              "0 */5 * * * /bin/sh " + quoted(installation.installDir + "/BatchLauncher.sh") + " " +
                  quoted(installation.installDir + "/PelorinAutoUpdate") +
                  " # PelorinUpdateTask\n");
}

TEST(ScheduledTask, NonAdministrativeFormIgnoresTheDefinitionButDeletesIt) {
    Installation installation;
    installation.layOutComplete();
    installation.writeFile(installation.crontabPath(), "15 * * * * backup\n");
    const std::string definition = installation.installDir + "/PelorinUpdateTask.cron";
    installation.writeFile(definition, "30 2 * * * /bin/true\n");
    EXPECT_EQ(actionLines(installation, {"schtask install nonadmin"}), registered);
    const std::string table = readFile(installation.crontabPath());
    EXPECT_EQ(table.rfind("15 * * * * backup\n0 */5 * * * /bin/sh ", 0), 0u) << table;
    EXPECT_FALSE(std::filesystem::exists(definition));
}

TEST(ScheduledTask, MissingUpdaterOrLauncherFailsAfterTheOldTaskIsGone) {
    Installation installation;
    installation.layOutComplete();
    installation.writeFile(installation.crontabPath(),
                           "keep me\n0 * * * * old # PelorinUpdateTask\n");
    std::filesystem::remove(installation.installDir + "/PelorinAutoUpdate");
    EXPECT_EQ(actionLines(installation, {"schtask install nonadmin"}),
              Lines({"Attempting to register scheduler...",
                     "Error! Pelorin silent updater missing, scheduler failed."}));
    EXPECT_EQ(readFile(installation.crontabPath()), "keep me\n");

    installation.writeFile(installation.installDir + "/PelorinAutoUpdate", "updater");
    std::filesystem::remove(installation.installDir + "/BatchLauncher.sh");
    EXPECT_EQ(actionLines(installation, {"schtask install admin"}),
              Lines({"Attempting to register scheduler...",
                     "Error! Batch launcher script missing, scheduler failed."}));
}

TEST(ScheduledTask, RemovingTakesOnlyTheTasksEntryAndFailsWhenThereIsNone) {
    Installation installation;
    installation.layOutComplete();
    installation.writeFile(installation.crontabPath(),
                           "keep me\n0 * * * * x # PelorinUpdateTask\n");
    EXPECT_EQ(actionLines(installation, {"schtask uninstall"}),
              Lines({"Attempting to de-register scheduler...", "Schedule de-registered at: <time>",
                     "Scheduler de-registered successfully."}));
    EXPECT_EQ(readFile(installation.crontabPath()), "keep me\n");
    EXPECT_EQ(actionLines(installation, {"schtask", "uninstall"}),
              Lines({"Attempting to de-register scheduler...",
                     "Error! Failed to de-register scheduler."}));
}

TEST(ScheduledTask, RemovalAfterAFailedDiscoveryEndsWithTheFatalPrefix) {
    Installation installation;
    installation.writeFile(installation.crontabPath(), "0 * * * * x # PelorinUpdateTask\n");
    const Lines lines = actionLines(installation, {"schtask uninstall"}, 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "Fatal Error! Scheduler de-registered successfully.");
}

TEST(ScheduledTask, FailingCrontabIsReportedAsAFailedRegistration) {
    Installation installation;
    installation.layOutComplete();
    installation.writeFile(installation.stubDir + "/crontab", "#!/bin/sh\nexit 1\n");
    EXPECT_EQ(
        actionLines(installation, {"schtask install nonadmin"}),
        Lines({"Attempting to register scheduler...", "Error! Failed to register scheduler."}));
}

TEST(ScheduledTask, PercentSignInTheInstallationPathReachesTheLauncherWhole) {
    Installation installation(Installation::Level::User, "Program Files 100% ours");
    installation.layOutComplete();
    const std::string argumentFile = installation.tempDir + "/launcher-argument";
    installation.writeFile(installation.installDir + "/BatchLauncher.sh",
                           "printf '%s' \"$1\" > '" + argumentFile + "'\n");
    ASSERT_EQ(actionLines(installation, {"schtask install nonadmin"}), registered);

    const std::string command = commandAsCronRunsIt(readFile(installation.crontabPath()));
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(readFile(argumentFile), installation.installDir + "/PelorinAutoUpdate");
}
