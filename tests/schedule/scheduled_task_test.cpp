// The task commands run through the real executable; a stand-in crontab
// first on PATH keeps the table in a file of the test's own.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/installation.h"

namespace {

const std::string registered =
    "Attempting to register scheduler...\nSchedule registered at: <time>\n"
    "Scheduler registered successfully.\n";
const std::string removed =
    "Attempting to de-register scheduler...\nSchedule de-registered at: <time>\n"
    "Scheduler de-registered successfully.\n";

}  // namespace

TEST(ScheduledTask, CommandsChangeTheTableAndSayHow) {
    const struct {
        std::vector<std::string> words;
        bool installed;
        const char* missing;  // a file of the updater's folder, removed before the run
        bool definition;      // PelorinUpdateTask.cron in the updater's folder
        const char* before;   // the table; nullptr: none
        std::string lines;    // after discovery's, without the clean-up's
        const char* after;    // the table; "$I" the updater's folder
    } cases[] = {
        {{"schtask install admin"},
         true,
         "",
         true,
         nullptr,
         registered,
         "30 2 * * * /bin/true # PelorinUpdateTask\n"},
        {{"schtask", "install", "admin"},
         true,
         "",
         false,
         "x # PelorinUpdateTask\n",
         registered,
         "0 */5 * * * /bin/sh '$I/BatchLauncher.sh' '$I/PelorinAutoUpdate' # PelorinUpdateTask\n"},
        // The definition serves the administrative form only, and goes all the same.
        {{"schtask install nonadmin"},
         true,
         "",
         true,
         "15 * * * * backup\n",
         registered,
         "15 * * * * backup\n"
         "0 */5 * * * /bin/sh '$I/BatchLauncher.sh' '$I/PelorinAutoUpdate' # PelorinUpdateTask\n"},
        // The old task is gone before the files are looked for.
        {{"schtask install nonadmin"},
         true,
         "PelorinAutoUpdate",
         false,
         "keep me\n0 * * * * old # PelorinUpdateTask\n",
         "Attempting to register scheduler...\n"
         "Error! Pelorin silent updater missing, scheduler failed.\n",
         "keep me\n"},
        {{"schtask install admin"},
         true,
         "BatchLauncher.sh",
         false,
         nullptr,
         "Attempting to register scheduler...\n"
         "Error! Batch launcher script missing, scheduler failed.\n",
         nullptr},
        {{"schtask uninstall"},
         true,
         "",
         false,
         "keep me\n0 * * * * x # PelorinUpdateTask\n",
         removed,
         "keep me\n"},
        {{"schtask", "uninstall"},
         true,
         "",
         false,
         "keep me\n",
         "Attempting to de-register scheduler...\nError! Failed to de-register scheduler.\n",
         "keep me\n"},
        // After a failed discovery the state's prefix shows on the last line.
        {{"schtask uninstall"},
         false,
         "",
         false,
         "0 * * * * x # PelorinUpdateTask\n",
         "Attempting to de-register scheduler...\nSchedule de-registered at: <time>\n"
         "Fatal Error! Scheduler de-registered successfully.\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        Installation installation;
        if (c.installed) installation.layOutComplete();
        if (*c.missing) std::filesystem::remove(installation.installDir + "/" + c.missing);
        if (c.definition) {
            installation.writeFile(installation.installDir + "/PelorinUpdateTask.cron",
                                   "30 2 * * * /bin/true\n");
        }
        if (c.before) installation.writeFile(installation.crontabPath(), c.before);
        std::vector<std::string> lines =
            Installation::bodyLines(installation.runUpdater(c.words).log);
        std::string shown;
        for (std::size_t i = c.installed ? 5 : 3; i + 2 < lines.size(); ++i) {
            const std::size_t at = lines[i].find(" at: ");
            shown += (at == std::string::npos ? lines[i] : lines[i].substr(0, at + 5) + "<time>");
            shown += "\n";
        }
        EXPECT_EQ(shown, c.lines);
        std::string after = c.after ? c.after : "";
        for (std::size_t at; (at = after.find("$I")) != std::string::npos;)
            after.replace(at, 2, installation.installDir);
        if (c.after) {
            EXPECT_EQ(readFile(installation.crontabPath()), after);
        }
        EXPECT_FALSE(std::filesystem::exists(installation.installDir + "/PelorinUpdateTask.cron"));
    }
}

TEST(ScheduledTask, FailingCrontabIsAFailedRegistration) {
    Installation installation;
    installation.layOutComplete();
    installation.writeFile(installation.stubDir + "/crontab", "#!/bin/sh\nexit 1\n");
    const std::vector<std::string> lines =
        Installation::bodyLines(installation.runUpdater({"schtask install nonadmin"}).log);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[6], "Error! Failed to register scheduler.");
}
