#include <gtest/gtest.h>

#include <filesystem>

#include "support/installation.h"

const std::string adding = "Attempting to register scheduler...\n";
const std::string added = adding + "Schedule registered\nScheduler registered successfully.\n";
const std::string removing = "Attempting to de-register scheduler...\n";
const std::string removed = removing + "Schedule de-registered\n";
const std::string gone = "Scheduler de-registered successfully.\n";
const std::string notGone = removing + "Error! Failed to de-register scheduler.\n";
const std::string noUpdater = adding + "Error! Pelorin silent updater missing, scheduler failed.\n";
const std::string notAdded = adding + "Error! Failed to register scheduler.\n";
const std::string noLauncher = adding + "Error! Batch launcher script missing, scheduler failed.\n";
const std::string entry =
    "0 */5 * * * /bin/sh '$I/BatchLauncher.sh' '$I/PelorinAutoUpdate' # PelorinUpdateTask\n";
const std::string tagged = "a\n0 * * * * b # PelorinUpdateTask\n";

static std::string invalid(const std::string& text) {
    return "Error! Command \"" + text + "\" is invalid.\n";
}

TEST(ScheduledTask, CommandsChangeTheTableAndSayHow) {
    const struct {
        std::vector<std::string> words;
        std::string lines;       // after discovery's, without the clean-up's nor times
        std::string after = "";  // the table; "$I": the updater's folder
        // "cron", "blank", "folder": a definition; "none": no installation; "/f": f removed;
        // "fail": crontab fails; "unread": only its reading fails
        std::string setup = "";
        std::string before = "";  // the table; none when empty
    } cases[] = {
        {{" Schtask Install Admin "}, added, "30 2 * * * /bin/true # PelorinUpdateTask\n", "cron"},
        {{"SCHTASK", " Install ", "Admin"}, added, entry, "", "x # PelorinUpdateTask\n"},
        // The definition serves the administrative form only, and goes all the same.
        {{"schtask install nonadmin"}, added, "a\n" + entry, "cron", "a\n"},
        // The old task is gone before the files are looked for.
        {{"schtask", "install", "nonadmin"}, noUpdater, "a\n", "/PelorinAutoUpdate", tagged},
        {{"schtask install admin"}, noLauncher, "", "/BatchLauncher.sh"},
        {{"schtask install nonadmin"}, notAdded, "", "fail"},
        // Entries that could not be read are not written back without; no entry, no success.
        {{"schtask install nonadmin"}, notAdded, tagged, "unread", tagged},
        {{"schtask install admin"}, notAdded, "a\n", "blank", tagged},
        {{"schtask install admin"}, notAdded, "a\n", "folder", "a\n"},
        {{"schtask uninstall"}, removed + gone, "a\n", "", tagged},
        {{"Schtask", "Uninstall"}, notGone, "a\n", "", "a\n"},
        // Without an installation: the state's prefix on the last line, no task, no update.
        {{"schtask uninstall"}, removed + "Fatal Error! " + gone, "a\n", "none", tagged},
        {{"schtask install admin"}, "", "a\n", "none", "a\n"},
        {{}, "", "", "none"},
        // Inner white space is the words' own (CommandText has the rest).
        {{"schtask", "install admin"}, invalid("schtask install admin")},
        {{"schtask", "uninstall", "now"}, invalid("schtask uninstall now")},
        {{"A", " b ", "c", "D  "}, invalid("a  b  c d")},
        {{"schtask", "install", "admin", "now", "x"}, invalid("schtask install admin now x")},
        {{"Schtask Install"}, invalid("schtask install")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        Installation installation;
        const std::string cron = installation.installDir + "/PelorinUpdateTask.cron";
        if (c.setup != "none") installation.layOutComplete();
        if (c.setup == "cron") installation.writeFile(cron, "30 2 * * * /bin/true\n");
        if (c.setup == "blank") installation.writeFile(cron, " \n\t\n");
        if (c.setup == "folder") std::filesystem::create_directories(cron);
        if (c.setup == "fail") installation.writeFile(installation.stubDir + "/crontab", "exit 1");
        if (c.setup == "unread")
            installation.writeFile(installation.stubDir + "/crontab",
                                   "[ \"$1\" = -l ] && exit 1\ncat > \"${0%/*}/crontab.txt\"\n");
        if (c.setup[0] == '/') std::filesystem::remove(installation.installDir + c.setup);
        if (!c.before.empty()) installation.writeFile(installation.crontabPath(), c.before);
        const UpdaterRun run = installation.runUpdater(c.words);
        EXPECT_EQ(run.exitCode, 0);
        const std::vector<std::string> lines = Installation::bodyLines(run.log);
        std::string shown;
        for (std::size_t i = c.setup == "none" ? 3 : 5; i + 2 < lines.size(); ++i)
            shown += lines[i].substr(0, lines[i].find(" at: ")) + "\n";
        EXPECT_EQ(shown, c.lines);
        std::string after = c.after;
        for (std::size_t at; (at = after.find("$I")) != std::string::npos;)
            after.replace(at, 2, installation.installDir);
        EXPECT_EQ(readFile(installation.crontabPath()), after);
        EXPECT_FALSE(std::filesystem::exists(cron));
    }
}
