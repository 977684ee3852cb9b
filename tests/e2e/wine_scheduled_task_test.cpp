// The scheduled-task commands of the Windows build under Wine, through the
// updater's own system() calls: Wine's schtasks creates the task from a
// definition file and deletes it; the schtasks stand-in answers the hourly
// form, which Wine's cannot create, and keeps every command line it was given,
// so that the texts are checked byte for byte as schtasks receives them.
// Skipped unless PELORIN_E2E_WINDOWS_EXE names the build (tools/windows/e2e.sh).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

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

    // A definition that Wine's schtasks accepts: every five hours, the
    // launcher script with the updater's path, with the highest rights.
    void writeDefinition() {
        installation_.writeFile(
            definitionPath(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<Task version=\"1.2\" "
            "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
            "  <RegistrationInfo>\r\n"
            "    <Description>Starts the Pelorin silent updater.</Description>\r\n"
            "  </RegistrationInfo>\r\n"
            "  <Triggers>\r\n"
            "    <TimeTrigger>\r\n"
            "      <StartBoundary>2024-01-01T00:00:00</StartBoundary>\r\n"
            "      <Repetition><Interval>PT5H</Interval></Repetition>\r\n"
            "    </TimeTrigger>\r\n"
            "  </Triggers>\r\n"
            "  <Principals>\r\n"
            "    <Principal><RunLevel>HighestAvailable</RunLevel></Principal>\r\n"
            "  </Principals>\r\n"
            "  <Actions>\r\n"
            "    <Exec>\r\n"
            "      <Command>wscript</Command>\r\n"
            "      <Arguments>\"" +
                windowsPath(installation_.installDir + "/BatchLauncher.vbs") + "\" \"" +
                windowsPath(installation_.installDir + "/PelorinAutoUpdate.exe") +
                "\"</Arguments>\r\n"
                "    </Exec>\r\n"
                "  </Actions>\r\n"
                "</Task>\r\n");
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
                  .find("<Description>Starts the Pelorin silent updater.</Description>"),
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
