// The Windows command lines, byte for byte: a stray blank or quote breaks every machine at once.
#include "platform/win32/windows_commands.h"

#include <gtest/gtest.h>

TEST(WindowsCommands, TextsAreExact) {
    using namespace windows_commands;
    const struct {
        std::string made, expected;
    } cases[] = {
        {adminUnpack("C:\\P\\Pelorin.msi", "C:\\H\\Update"),
         R"(msiexec.exe /a "C:\P\Pelorin.msi" TARGETDIR="C:\H\Update" /quiet )"},
        {copyAndClean("C:\\H\\Update\\program files\\Halvorne\\Pelorin", "C:\\H\\Pelorin",
                      "C:\\H\\Update\\program files"),
         R"(cmd.exe /C xcopy "C:\H\Update\program files\Halvorne\Pelorin" "C:\H\Pelorin\" /y /e /h /i /q && rmdir /Q /S "C:\H\Update\program files")"},
        {removeTree("C:\\H\\Update\\program files"), R"(rmdir /Q /S "C:\H\Update\program files")"},
        {deleteTask(), "schtasks /delete /tn PelorinUpdateTask /F "},
        {createTaskFromDefinition("C:\\U\\T.xml"),
         R"(schtasks /Create /xml "C:\U\T.xml" /TN "PelorinUpdateTask")"},
        {createRepeatingTask("5", "C:\\U\\L.vbs", "C:\\U\\U.exe", false),
         R"(schtasks /Create /SC HOURLY /MO 5 /TN PelorinUpdateTask /TR  "wscript \"C:\U\L.vbs\" \"C:\U\U.exe\"")"},
        {createRepeatingTask("5", "C:\\U\\L.vbs", "C:\\U\\U.exe", true),
         R"(schtasks /Create /SC HOURLY /MO 5 /TN PelorinUpdateTask /TR  "wscript \"C:\U\L.vbs\" \"C:\U\U.exe\"" /RL Highest /RU System)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.made, c.expected);
}
