// The Windows command lines, byte for byte: a stray blank or quote here
// breaks every Windows machine at once.
#include "platform/win32/windows_commands.h"

#include <gtest/gtest.h>

using namespace windows_commands;

TEST(WindowsCommands, AdministrativeUnpackEndsInOneBlank) {
    EXPECT_EQ(adminUnpack("C:\\P\\Update\\Pelorin.msi", "C:\\Halvorne\\Update"),
              "msiexec.exe /a \"C:\\P\\Update\\Pelorin.msi\" TARGETDIR=\"C:\\Halvorne\\Update\" "
              "/quiet ");
}

TEST(WindowsCommands, StagingTreeIsRemovedOnlyAfterASuccessfulCopy) {
    EXPECT_EQ(
        copyAndClean("C:\\H\\Update\\program files\\Halvorne\\Pelorin", "C:\\H\\Pelorin",
                     "C:\\H\\Update\\program files"),
        "cmd.exe /C xcopy \"C:\\H\\Update\\program files\\Halvorne\\Pelorin\" "
        "\"C:\\H\\Pelorin\\\" /y /e /h /i /q && rmdir /Q /S \"C:\\H\\Update\\program files\"");
    EXPECT_EQ(removeTree("C:\\H\\Update\\program files"),
              "rmdir /Q /S \"C:\\H\\Update\\program files\"");
}

TEST(WindowsCommands, TaskCommandsKeepTheirExactBlanksAndQuotes) {
    EXPECT_EQ(deleteTask(), "schtasks /delete /tn PelorinUpdateTask /F ");
    EXPECT_EQ(createTaskFromDefinition("C:\\U\\PelorinUpdateTask.xml"),
              "schtasks /Create /xml \"C:\\U\\PelorinUpdateTask.xml\" /TN \"PelorinUpdateTask\"");
    const std::string hourly =
        "schtasks /Create /SC HOURLY /MO 5 /TN PelorinUpdateTask /TR  \"wscript "
        "\\\"C:\\U\\BatchLauncher.vbs\\\" \\\"C:\\U\\PelorinAutoUpdate.exe\\\"\"";
    EXPECT_EQ(
        createRepeatingTask("5", "C:\\U\\BatchLauncher.vbs", "C:\\U\\PelorinAutoUpdate.exe", false),
        hourly);
    EXPECT_EQ(
        createRepeatingTask("5", "C:\\U\\BatchLauncher.vbs", "C:\\U\\PelorinAutoUpdate.exe", true),
        hourly + " /RL Highest /RU System");
}
