// Commands through the real executable; a stand-in crontab keeps the table.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/installation.h"

namespace {

const std::string registering = "Attempting to register scheduler...\n";
const std::string registered =
    registering + "Schedule registered at: <time>\nScheduler registered successfully.\n";
const std::string removing = "Attempting to de-register scheduler...\n";
const std::string entry =
    "0 */5 * * * /bin/sh '$I/BatchLauncher.sh' '$I/PelorinAutoUpdate' # PelorinUpdateTask\n";

std::string invalid(const std::string& text) {
    return "Error! Command \"" + text + "\" is invalid.\n";
}

}  // namespace

TEST(ScheduledTask, CommandsChangeTheTableAndSayHow) {
    const struct {
        std::vector<std::string> words;
        const char* missing;  // removed before the run: "all", or a file of the updater's folder
        bool definition;      // PelorinUpdateTask.cron in the updater's folder
        const char* before;   // the table; nullptr: none
        std::string lines;    // after discovery's, without the clean-up's
        std::string after;    // the table; "$I": the updater's folder
    } cases[] = {
        {{" Schtask Install Admin "},
         "",
         true,
         nullptr,
         registered,
         "30 2 * * * /bin/true # PelorinUpdateTask\n"},
        {{"SCHTASK", " Install ", "Admin"},
         "",
         false,
         "x # PelorinUpdateTask\n",
         registered,
         entry},
        // The definition serves the administrative form only, and goes all the same.
        {{"schtask install nonadmin"},
         "",
         true,
         "15 * * * * backup\n",
         registered,
         "15 * * * * backup\n" + entry},
        // The old task is gone before the files are looked for.
        {{"schtask", "install", "nonadmin"},
         "PelorinAutoUpdate",
         false,
         "a\n0 * * * * b # PelorinUpdateTask\n",
         registering + "Error! Pelorin silent updater missing, scheduler failed.\n",
         "a\n"},
        {{"schtask install admin"},
         "BatchLauncher.sh",
         false,
         nullptr,
         registering + "Error! Batch launcher script missing, scheduler failed.\n",
         ""},
        {{"schtask uninstall"},
         "",
         false,
         "a\n0 * * * * b # PelorinUpdateTask\n",
         removing + "Schedule de-registered at: <time>\nScheduler de-registered successfully.\n",
         "a\n"},
        {{"Schtask", "Uninstall"},
         "",
         false,
         "a\n",
         removing + "Error! Failed to de-register scheduler.\n",
         "a\n"},
        // Without an installation: the state's prefix on the last line, no task, no update.
        {{"schtask uninstall"},
         "all",
         false,
         "0 * * * * b # PelorinUpdateTask\n",
         removing + "Schedule de-registered at: <time>\n"
                    "Fatal Error! Scheduler de-registered successfully.\n",
         ""},
        {{"schtask install admin"}, "all", false, "a\n", "", "a\n"},
        {{}, "all", false, nullptr, "", ""},
        {{"schtask", "install admin"}, "", false, nullptr, invalid("schtask install admin"), ""},
        {{"schtask", "uninstall", "now"}, "", false, nullptr, invalid("schtask uninstall now"), ""},
        {{"schtask  uninstall"}, "", false, nullptr, invalid("schtask  uninstall"), ""},
        {{"\tschtask uninstall"}, "", false, nullptr, invalid("\tschtask uninstall"), ""},
        {{"schtask uninstall\t"}, "", false, nullptr, invalid("schtask uninstall\t"), ""},
        {{"A", " b ", "c", "D  "}, "", false, nullptr, invalid("a  b  c d"), ""},
        {{"schtask", "install", "admin", "now", "x"},
         "",
         false,
         nullptr,
         invalid("schtask install admin now x"),
         ""},
        {{"Schtask Install"}, "", false, nullptr, invalid("schtask install"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        Installation installation;
        const bool installed = std::string(c.missing) != "all";
        if (installed) installation.layOutComplete();
        if (installed && *c.missing)
            std::filesystem::remove(installation.installDir + "/" + c.missing);
        if (c.definition) {
            installation.writeFile(installation.installDir + "/PelorinUpdateTask.cron",
                                   "30 2 * * * /bin/true\n");
        }
        if (c.before) installation.writeFile(installation.crontabPath(), c.before);
        const UpdaterRun run = installation.runUpdater(c.words);
        EXPECT_EQ(run.exitCode, 0);
        const std::vector<std::string> lines = Installation::bodyLines(run.log);
        std::string shown;
        for (std::size_t i = installed ? 5 : 3; i + 2 < lines.size(); ++i) {
            const std::size_t at = lines[i].find(" at: ");
            shown += (at == std::string::npos ? lines[i] : lines[i].substr(0, at + 5) + "<time>");
            shown += "\n";
        }
        EXPECT_EQ(shown, c.lines);
        std::string after = c.after;
        for (std::size_t at; (at = after.find("$I")) != std::string::npos;)
            after.replace(at, 2, installation.installDir);
        EXPECT_EQ(readFile(installation.crontabPath()), after);
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
