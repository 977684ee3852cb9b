// The Windows build under Wine (tools/windows/e2e.sh sets it up; skipped
// without PELORIN_E2E_WINDOWS_EXE): every scenario with the native build's
// expectations, the scheduled-task commands through the updater's own
// system() calls, and the shipped launcher.
#include <chrono>
#include <thread>

#include "e2e/log_match.h"
#include "e2e/wine_target.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

bool noWindowsBuild() {
    return WineTarget::setting("PELORIN_E2E_WINDOWS_EXE").empty();
}

class WineBuild : public ::testing::TestWithParam<std::string> {};

TEST_P(WineBuild, Replays) {
    if (noWindowsBuild() || mainServerPort() == 0)
        GTEST_SKIP() << "no Windows build or no local main server";
    WineTarget target;
    replayScenario(GetParam(), target);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, WineBuild, ::testing::ValuesIn(scenarioNames()),
                         [](const auto& info) { return info.param; });

// The log after its header: discovery, the command's own lines, clean-up.
Lines logOf(Lines commandLines, const char* level = "User") {
    Lines lines = {"Locating installation type...",
                   std::string(level) + " level installation found.",
                   "Reading installation information...", "Locating installation paths...",
                   "Installation paths located successfully."};
    lines.insert(lines.end(), commandLines.begin(), commandLines.end());
    lines.insert(lines.end(),
                 {"Cleaning temporary files...", "Temporary files cleaned up successfully."});
    return lines;
}

const Lines registered = {"Attempting to register scheduler...", "Schedule registered at: <any>.",
                          "Scheduler registered successfully."};
const char* const wineSchtasks = "C:\\windows\\system32\\schtasks.exe";

// Wine's schtasks creates the task from a definition file and deletes it; the
// stand-in answers the hourly form, which Wine's cannot create, and records
// every command line byte for byte.
TEST(EndToEndWineBuild, ScheduledTaskCommands) {
    if (noWindowsBuild()) GTEST_SKIP() << "no Windows build";
    const std::string del = "schtasks /delete /tn PelorinUpdateTask /F \n";
    const std::string hourly =
        R"(schtasks /Create /SC HOURLY /MO 5 /TN PelorinUpdateTask /TR  "wscript \"${launcher}\" \"${updater}\"")";
    const struct {
        Lines words;
        bool definition, taskBefore;
        Lines log;
        std::string calls;
        bool taskAfter, definitionAfter;
    } cases[] = {
        {{"schtask install admin"},
         true,
         false,
         registered,
         del + R"(schtasks /Create /xml "${definition}" /TN "PelorinUpdateTask")" + "\n",
         true,
         false},
        {{"schtask", "install", "admin"},
         false,
         false,
         registered,
         del + hourly + " /RL Highest /RU System\n",
         false,
         false},
        {{"schtask install nonadmin"}, true, false, registered, del + hourly + "\n", false, false},
        {{"schtask uninstall"},
         true,
         true,
         {"Attempting to de-register scheduler...", "Schedule de-registered at: <any>.",
          "Scheduler de-registered successfully."},
         del,
         false,
         true},
        {{"schtask uninstall"},
         false,
         false,
         {"Attempting to de-register scheduler...", "Error! Failed to de-register scheduler."},
         del,
         false,
         false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.words[0] + (row.definition ? " with a definition" : "") +
                     (row.taskBefore ? " and a task" : ""));
        Installation installation;
        WineTarget target;
        target.layOut(installation, "1.0");
        const auto deleteTask = [&] {
            target.wine({wineSchtasks, "/delete", "/tn", "PelorinUpdateTask", "/F"});
        };
        deleteTask();
        const std::string definition = installation.installDir + "/PelorinUpdateTask.xml";
        std::map<std::string, std::string> paths = {
            {"${definition}", target.updaterPath(definition)},
            {"${launcher}", target.updaterPath(installation.installDir + "/BatchLauncher.vbs")},
            {"${updater}", target.updaterPath(installation.installDir + "/PelorinAutoUpdate.exe")},
            {"@UPDATER_DIR@", target.updaterPath(installation.installDir)}};
        const auto filled = [&](std::string text) {
            for (const auto& [name, path] : paths)
                for (std::size_t at; (at = text.find(name)) != std::string::npos;)
                    text.replace(at, name.size(), path);
            return text;
        };
        // The definition the bundle ships, naming this installation's folder.
        if (row.definition)
            installation.writeFile(
                definition,
                filled(readFile(PELORIN_SOURCE_DIR "/tools/bundle/PelorinUpdateTask.xml.in")));
        if (row.taskBefore) {
            ASSERT_EQ(target.wine({wineSchtasks, "/Create", "/xml", paths["${definition}"], "/TN",
                                   "PelorinUpdateTask"}),
                      0);
        }
        const Lines log = Installation::bodyLines(target.runWith(installation, row.words).log);
        EXPECT_EQ(logDifference(logOf(row.log), log), "");
        EXPECT_EQ(readFile(WineTarget::schtasksRecord(installation)), filled(row.calls));
        EXPECT_EQ(fs::exists(target.taskFile("PelorinUpdateTask")), row.taskAfter);
        if (row.taskAfter) {
            EXPECT_NE(readFile(target.taskFile("PelorinUpdateTask"))
                          .find("<Description>Keeps the Pelorin browser up to date.</Description>"),
                      std::string::npos);
        }
        EXPECT_EQ(fs::exists(definition), row.definitionAfter);
        deleteTask();
    }
}

// The shipped launcher under Wine's wscript starts the updater it is given
// and ends; the updater then runs to its end on its own.
TEST(EndToEndWineBuild, LauncherStartsTheUpdaterItIsGiven) {
    if (noWindowsBuild()) GTEST_SKIP() << "no Windows build";
    Installation installation;
    WineTarget target;
    target.layOut(installation, "1.0");
    const std::string launcher = installation.installDir + "/BatchLauncher.vbs";
    fs::copy_file(PELORIN_SOURCE_DIR "/tools/bundle/BatchLauncher.vbs", launcher,
                  fs::copy_options::overwrite_existing);
    fs::remove(target.logPath());
    ASSERT_EQ(target.wine({"wscript", target.updaterPath(launcher),
                           target.updaterPath(installation.installDir + "/PelorinAutoUpdate.exe")}),
              0);
    const std::string end = "Temporary files cleaned up successfully.";
    std::string log;
    for (int poll = 0; poll < 600 && log.find(end) == std::string::npos; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        log = readFile(target.logPath());
    }
    EXPECT_NE(log.find("Starting update process..."), std::string::npos) << log;
    EXPECT_NE(log.find(end), std::string::npos) << log;
}

}  // namespace
