// The Windows command lines, byte for byte: a stray blank or quote breaks every machine at once.
#include "platform/win32/windows_commands.h"

#include <gtest/gtest.h>

TEST(WindowsCommands, TextsAreExact) {
    const platform::CommandBuilders& windows = platform::windowsCommands;
    const struct {
        std::string made, expected;
    } cases[] = {
        {windows.adminUnpack("C:\\P\\Pelorin.msi", "C:\\H\\Update"),
         R"(msiexec.exe /a "C:\P\Pelorin.msi" TARGETDIR="C:\H\Update" /quiet )"},
        {windows.copyAndClean("C:\\H\\Update\\program files\\Halvorne\\Pelorin", "C:\\H\\Pelorin",
                              "C:\\H\\Update\\program files"),
         R"(cmd.exe /C xcopy "C:\H\Update\program files\Halvorne\Pelorin" "C:\H\Pelorin\" /y /e /h /i /q && rmdir /Q /S "C:\H\Update\program files")"},
        {windows.removeTree("C:\\H\\Update\\program files"),
         R"(rmdir /Q /S "C:\H\Update\program files")"},
        {windows.deleteTask(), "schtasks /delete /tn PelorinUpdateTask /F "},
        {windows.createTaskFromDefinition("C:\\U\\T.xml"),
         R"(schtasks /Create /xml "C:\U\T.xml" /TN "PelorinUpdateTask")"},
        {windows.createRepeatingTask("5", "C:\\U\\L.vbs", "C:\\U\\U.exe", false),
         R"(schtasks /Create /SC HOURLY /MO 5 /TN PelorinUpdateTask /TR  "wscript \"C:\U\L.vbs\" \"C:\U\U.exe\"")"},
        {windows.createRepeatingTask("5", "C:\\U\\L.vbs", "C:\\U\\U.exe", true),
         R"(schtasks /Create /SC HOURLY /MO 5 /TN PelorinUpdateTask /TR  "wscript \"C:\U\L.vbs\" \"C:\U\U.exe\"" /RL Highest /RU System)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.made, c.expected);
}
