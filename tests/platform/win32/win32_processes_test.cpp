// The process list, the command interpreter and the detached child, for real.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "app/process_count.h"
#include "platform/platform.h"
#include "platform/win32/own_executable.h"
#include "support/temp_dir.h"

TEST(Win32Processes, ProcessListCountsThisProgramByItsFileNameOnly) {
    const std::string name = ownExecutableName();
    ASSERT_NE(name.find(".exe"), std::string::npos);
    EXPECT_GE(countProcessesByName(name), 1);
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(countProcessesByName(upper), 0);  // letter case counts
    EXPECT_EQ(countProcessesByName(ownExecutablePath()), 0);
}

TEST(Win32Processes, CommandExitStatusIsPassedOn) {
    EXPECT_EQ(platform::runCommand("cmd.exe /C exit 3"), 3);
    EXPECT_EQ(platform::runCommand("cmd.exe /C exit 0"), 0);
}

TEST(Win32Processes, DetachedChildRunsItsQuotedCommandLine) {
    TempDir dir;
    const std::string made = dir.path() + "\\made by child";
    ASSERT_TRUE(platform::startDetached("cmd.exe /C mkdir \"" + made + "\""));
    // The updater watches the file system for its child the same way; the
    // bound only keeps a broken start from hanging the run.
    bool appeared = false;
    for (int poll = 0; poll < 600 && !appeared; ++poll) {
        platform::sleepMilliseconds(50);
        appeared = platform::fileStatus(made).isDirectory;
    }
    EXPECT_TRUE(appeared);
}

TEST(Win32Processes, DetachedStartOfAMissingProgramFails) {
    EXPECT_FALSE(platform::startDetached("pelorin-no-such-program.exe"));
}
