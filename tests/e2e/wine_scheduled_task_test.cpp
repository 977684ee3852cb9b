// The scheduled-task commands of the Windows build under Wine, through the
// updater's own system() calls: Wine's schtasks creates the task from a
// definition file and deletes it; the schtasks stand-in answers the hourly
// form, which Wine's cannot create, and keeps every command line it was given,
// so that the texts are checked byte for byte as schtasks receives them.
// Skipped unless PELORIN_E2E_WINDOWS_EXE names the build (tools/windows/e2e.sh).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "e2e/log_match.h"
#include "e2e/wine_target.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

const char* const wineSchtasks = "C:\\windows\\system32\\schtasks.exe";

const Lines registered = {"Attempting to register scheduler...", "Schedule registered at: <any>.",
                          "Scheduler registered successfully."};

// The whole log after its header: discovery, the command's lines, clean-up.
Lines logOf(const Lines& commandLines) {
    Lines lines = {"Locating installation type...", "User level installation found.",
                   "Reading installation information...", "Locating installation paths...",
                   "Installation paths located successfully."};
    lines.insert(lines.end(), commandLines.begin(), commandLines.end());
    lines.push_back("Cleaning temporary files...");
    lines.push_back("Temporary files cleaned up successfully.");
    return lines;
}

class EndToEndWineBuild : public ::testing::Test {
protected:
    void SetUp() override {
        if (WineTarget::windowsExecutable().empty()) {
            GTEST_SKIP() << "PELORIN_E2E_WINDOWS_EXE names no Windows build "
                            "(tools/windows/e2e.sh builds one and runs these tests)";
        }
        target_ = std::make_unique<WineTarget>();
        target_->layOut(installation_, "1.0");
        deleteTask();
    }

    void TearDown() override {
        if (target_) deleteTask();
    }

    void deleteTask() {
        target_->runWine({wineSchtasks, "/delete", "/tn", "PelorinUpdateTask", "/F"}, "/dev/null");
    }

    std::string windowsPath(const std::string& nativePath) const {
        return target_->updaterPath(nativePath);
    }

    std::string definitionPath() const {
        return installation_.installDir + "/PelorinUpdateTask.xml";
    }

    // The definition the bundle ships, naming this installation's folder.
    void writeDefinition() {
        std::string definition =
            readFile(PELORIN_SOURCE_DIR "/tools/bundle/PelorinUpdateTask.xml.in");
        const std::string placeholder = "@UPDATER_DIR@";
        for (std::size_t at; (at = definition.find(placeholder)) != std::string::npos;) {
            definition.replace(at, placeholder.size(), windowsPath(installation_.installDir));
        }
        installation_.writeFile(definitionPath(), definition);
    }

    Lines runLog(const std::vector<std::string>& words) {
        return Installation::bodyLines(target_->runUpdater(installation_, words).log);
    }

    // The command lines schtasks was given, one a line.
    std::string schtasksCalls() const {
        return readFile(WineTarget::schtasksRecordPath(installation_));
    }

    // The hourly create command as the updater must hand it to schtasks.
    std::string hourlyCommand() const {
        return "schtasks /Create /SC HOURLY /MO 5 /TN PelorinUpdateTask /TR  \"wscript \\\"" +
               windowsPath(installation_.installDir + "/BatchLauncher.vbs") + "\\\" \\\"" +
               windowsPath(installation_.installDir + "/PelorinAutoUpdate.exe") + "\\\"\"";
    }

    bool taskExists() const { return fs::exists(target_->scheduledTaskFile("PelorinUpdateTask")); }

    Installation installation_;
    std::unique_ptr<WineTarget> target_;
};

const std::string deleteCommand = "schtasks /delete /tn PelorinUpdateTask /F ";

}  // namespace

TEST_F(EndToEndWineBuild, AdministrativeRegistrationCreatesTheTaskFromTheDefinitionFile) {
    writeDefinition();
    EXPECT_EQ(logDifference(logOf(registered), runLog({"schtask install admin"})), "");
    EXPECT_EQ(schtasksCalls(), deleteCommand + "\n" + "schtasks /Create /xml \"" +
                                   windowsPath(definitionPath()) +
                                   "\" /TN \"PelorinUpdateTask\"\n");
    ASSERT_TRUE(taskExists());
    EXPECT_NE(readFile(target_->scheduledTaskFile("PelorinUpdateTask"))
                  .find("<Description>Keeps the Pelorin browser up to date.</Description>"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(definitionPath()));
}

TEST_F(EndToEndWineBuild, AdministrativeRegistrationWithoutDefinitionAsksForHourlySystemTask) {
    EXPECT_EQ(logDifference(logOf(registered), runLog({"schtask", "install", "admin"})), "");
    EXPECT_EQ(schtasksCalls(),
              deleteCommand + "\n" + hourlyCommand() + " /RL Highest /RU System\n");
}

TEST_F(EndToEndWineBuild, NonAdministrativeRegistrationIgnoresTheDefinitionButDeletesIt) {
    writeDefinition();
    EXPECT_EQ(logDifference(logOf(registered), runLog({"schtask install nonadmin"})), "");
    EXPECT_EQ(schtasksCalls(), deleteCommand + "\n" + hourlyCommand() + "\n");
    EXPECT_FALSE(fs::exists(definitionPath()));
}

TEST_F(EndToEndWineBuild, DeregistrationDeletesTheTask) {
    writeDefinition();
    ASSERT_EQ(target_->runWine({wineSchtasks, "/Create", "/xml", windowsPath(definitionPath()),
                                "/TN", "PelorinUpdateTask"},
                               "/dev/null"),
              0);
    ASSERT_TRUE(taskExists());
    EXPECT_EQ(logDifference(logOf({"Attempting to de-register scheduler...",
                                   "Schedule de-registered at: <any>.",
                                   "Scheduler de-registered successfully."}),
                            runLog({"schtask uninstall"})),
              "");
    EXPECT_EQ(schtasksCalls(), deleteCommand + "\n");
    EXPECT_FALSE(taskExists());
}

TEST_F(EndToEndWineBuild, DeregistrationWithoutTaskIsReportedAsFailed) {
    EXPECT_EQ(logDifference(logOf({"Attempting to de-register scheduler...",
                                   "Error! Failed to de-register scheduler."}),
                            runLog({"schtask uninstall"})),
              "");
    EXPECT_EQ(schtasksCalls(), deleteCommand + "\n");
}

// The shipped launcher under Wine's own wscript: it starts the updater it is
// given and ends; the updater then runs to its end on its own.
TEST_F(EndToEndWineBuild, LauncherStartsTheUpdaterItIsGiven) {
    const std::string launcher = installation_.installDir + "/BatchLauncher.vbs";
    fs::copy_file(PELORIN_SOURCE_DIR "/tools/bundle/BatchLauncher.vbs", launcher,
                  fs::copy_options::overwrite_existing);
    fs::remove(target_->logPath());
    ASSERT_EQ(target_->runWine({"wscript", windowsPath(launcher),
                                windowsPath(installation_.installDir + "/PelorinAutoUpdate.exe")},
                               "/dev/null"),
              0);
    std::string log;
    for (int poll = 0;
         poll < 600 && log.find("Temporary files cleaned up successfully.") == std::string::npos;
         ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        log = readFile(target_->logPath());
    }
    EXPECT_NE(log.find("Starting update process..."), std::string::npos) << log;
    EXPECT_NE(log.find("Temporary files cleaned up successfully."), std::string::npos) << log;
}
