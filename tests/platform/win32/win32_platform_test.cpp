#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "core/process_count.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

TEST(Win32Files, TemporaryFolderAndWideNames) {
    // The log's folder is this text less its one trailing backslash.
    const std::string temporary = platform::temporaryDirectory();
    ASSERT_EQ(temporary.back(), '\\');
    EXPECT_TRUE(platform::fileStatus(temporary.substr(0, temporary.size() - 1)).isDirectory);
    TempDir dir;  // PathUtils has the rest of files and directories
    // The hasher opens files by their wide names: a name outside ASCII names the same file.
    const std::string name = dir.path() + "\\caf\xe9 \x80.txt";
    FILE* narrow = platform::openFile(name, "wb");
    if (!narrow) GTEST_SKIP() << "the ANSI code page lacks these characters";
    std::fputs("x", narrow);
    std::fclose(narrow);
    FILE* wide = platform::openFileWide(platform::widenPath(name), "rb");
    ASSERT_TRUE(wide);
    EXPECT_EQ(std::fgetc(wide), 'x');
    std::fclose(wide);
}

TEST(Win32Processes, CountsByExactFileNameAndRunsCommands) {
    char path[MAX_PATH] = {};
    const std::string own(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    std::string name = own.substr(own.rfind('\\') + 1);
    EXPECT_GE(countProcessesByName(name), 1);
    EXPECT_EQ(countProcessesByName(own), 0);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(countProcessesByName(name), 0);  // letter case counts
    EXPECT_EQ(platform::runCommand("cmd.exe /C exit 3"), 3);
    TempDir dir;
    const std::string guard = dir.path() + "\\copy.guard", made = dir.path() + "\\made by child";
    using platform::DetachedStart;
    EXPECT_EQ(platform::startDetached("pelorin-no-such-program.exe", guard), DetachedStart::Failed);
    // An inheritable handle of the updater's own that the child must not hold.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const std::wstring ours = platform::widenPath(dir.path() + "\\ours.txt");
    HANDLE ourHandle = CreateFileW(ours.c_str(), GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(ourHandle, INVALID_HANDLE_VALUE);
    // A child that never ends holds the guard until it is ended; one that ends lets go.
    ASSERT_EQ(platform::startDetached("cmd.exe /C for /L %i in (1,0,2) do @rem", guard),
              DetachedStart::Started);
    CloseHandle(ourHandle);
    EXPECT_TRUE(platform::guardHeld(guard));
    EXPECT_TRUE(DeleteFileW(ours.c_str())) << "the child inherited the updater's handle";
    platform::endDetached(guard);
    // Bounded only so that a broken start cannot hang the run.
    for (int poll = 0; poll < 600 && platform::guardHeld(guard); ++poll)
        platform::sleepMilliseconds(50);
    EXPECT_FALSE(platform::guardHeld(guard));
    ASSERT_EQ(platform::startDetached("cmd.exe /C mkdir \"" + made + "\"", guard),
              DetachedStart::Started);
    for (int poll = 0; poll < 600 && platform::guardHeld(guard); ++poll)
        platform::sleepMilliseconds(50);
    EXPECT_TRUE(platform::fileStatus(made).isDirectory);
}

// A 32-bit updater counts a 64-bit browser: its 556-byte entries name 64-bit processes too.
TEST(Win32Processes, ThirtyTwoBitEntryCountsSixtyFourBitProcesses) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "only a 32-bit process can show this: 556 bytes";
    EXPECT_EQ(countProcessesByName("services.exe"), 1);  // 64-bit on 64-bit Windows
}

// Discovery tells a user installation from a machine one by the hive alone.
TEST(Win32Registry, ValuesFitTheBufferAndEachHiveIsReadOnlyFromItself) {
    using platform::Hive;
    const auto read = [](Hive hive, const std::string& keyPath, const char* name) {
        std::string value = "untouched";
        platform::readRegistryString(hive, keyPath, name, value);
        return value;
    };
    // A key of this process's own, so that runs side by side never share one.
    const std::string key =
        "SOFTWARE\\PelorinAutoUpdateTests" + std::to_string(GetCurrentProcessId());
    for (const std::string& value : {std::string(259, 'a'), std::string(260, 'b')})
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), value.substr(0, 1).c_str(),
                                  REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    EXPECT_EQ(read(Hive::CurrentUser, key, "a"), std::string(259, 'a'));
    EXPECT_EQ(read(Hive::CurrentUser, key, "b"), "untouched");  // no room for the terminator
    EXPECT_EQ(read(Hive::CurrentUser, key, "c"), "untouched");
    EXPECT_EQ(read(Hive::CurrentUser, key + "\\Missing", "a"), "untouched");
    EXPECT_EQ(read(Hive::LocalMachine, key, "a"), "untouched");
    EXPECT_TRUE(platform::registryKeyExists(Hive::CurrentUser, key));
    EXPECT_FALSE(platform::registryKeyExists(Hive::CurrentUser, key + "\\Missing"));
    EXPECT_FALSE(platform::registryKeyExists(Hive::LocalMachine, key));
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    if (RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "m", REG_SZ, "machine", 8) !=
        ERROR_SUCCESS)
        GTEST_SKIP() << "this account cannot write HKEY_LOCAL_MACHINE";
    EXPECT_EQ(read(Hive::LocalMachine, key, "m"), "machine");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
}
