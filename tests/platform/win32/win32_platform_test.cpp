// The platform layer's files, processes and registry reads on real Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/process_count.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

using platform::Hive;

namespace {

// A key of this process's own below a shared parent, deleted with all it holds.
class ScratchKey {
public:
    explicit ScratchKey(Hive hive)
        : root_(hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE),
          path_("SOFTWARE\\PelorinAutoUpdateTests\\" + std::to_string(GetCurrentProcessId())) {
        created_ = RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &key_, nullptr) == ERROR_SUCCESS;
    }
    ~ScratchKey() {
        if (!created_) return;
        RegCloseKey(key_);
        RegDeleteTreeA(root_, path_.c_str());
        RegDeleteKeyA(root_, "SOFTWARE\\PelorinAutoUpdateTests");  // fails while others use it
    }
    bool created() const { return created_; }
    const std::string& path() const { return path_; }
    void set(const std::string& name, const std::string& text) {  // REG_SZ with its terminator
        RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    }

private:
    HKEY root_;
    std::string path_;
    HKEY key_ = nullptr;
    bool created_ = false;
};

std::string readOr(Hive hive, const std::string& keyPath, const std::string& name) {
    std::string value = "untouched";
    platform::readRegistryString(hive, keyPath, name, value);
    return value;
}

}  // namespace

TEST(Win32Files, StatusAndDirectoryCreation) {
    // The log's folder is this text less its one trailing backslash.
    const std::string temporary = platform::temporaryDirectory();
    ASSERT_EQ(temporary.back(), '\\');
    EXPECT_TRUE(platform::fileStatus(temporary.substr(0, temporary.size() - 1)).isDirectory);
    TempDir dir;
    std::ofstream(dir.path() + "\\file.txt") << "x";
    EXPECT_TRUE(platform::fileStatus(dir.path() + "\\file.txt").isRegularFile);
    EXPECT_FALSE(platform::fileStatus(dir.path() + "\\missing").exists);
    bool alreadyExists = true;
    EXPECT_TRUE(platform::createDirectory(dir.path() + "\\new", alreadyExists));
    EXPECT_FALSE(alreadyExists);
    EXPECT_FALSE(platform::createDirectory(dir.path() + "\\new", alreadyExists));
    EXPECT_TRUE(alreadyExists);
    EXPECT_FALSE(platform::createDirectory(dir.path() + "\\missing\\child", alreadyExists));
    EXPECT_FALSE(alreadyExists);
}

// The hasher opens files by their wide names: a name outside ASCII must name
// the same file both ways.
TEST(Win32Files, NarrowNameOutsideAsciiOpensByItsWideName) {
    TempDir dir;
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
    EXPECT_FALSE(platform::startDetached("pelorin-no-such-program.exe"));
    TempDir dir;
    const std::string made = dir.path() + "\\made by child";
    ASSERT_TRUE(platform::startDetached("cmd.exe /C mkdir \"" + made + "\""));
    // Bounded only so that a broken start cannot hang the run.
    for (int poll = 0; poll < 600 && !platform::fileStatus(made).isDirectory; ++poll)
        platform::sleepMilliseconds(50);
    EXPECT_TRUE(platform::fileStatus(made).isDirectory);
}

// Discovery tells a user installation from a machine one by the hive alone.
TEST(Win32Registry, ValuesFitTheBufferAndEachHiveIsReadOnlyFromItself) {
    ScratchKey key(Hive::CurrentUser);
    ASSERT_TRUE(key.created());
    key.set("fits", std::string(259, 'a'));
    key.set("long", std::string(260, 'b'));
    EXPECT_EQ(readOr(Hive::CurrentUser, key.path(), "fits"), std::string(259, 'a'));
    EXPECT_EQ(readOr(Hive::CurrentUser, key.path(), "long"), "untouched");
    EXPECT_EQ(readOr(Hive::CurrentUser, key.path(), "other"), "untouched");
    EXPECT_EQ(readOr(Hive::CurrentUser, key.path() + "\\Missing", "fits"), "untouched");
    EXPECT_EQ(readOr(Hive::LocalMachine, key.path(), "fits"), "untouched");
    EXPECT_TRUE(platform::registryKeyExists(Hive::CurrentUser, key.path()));
    EXPECT_FALSE(platform::registryKeyExists(Hive::CurrentUser, key.path() + "\\Missing"));
    EXPECT_FALSE(platform::registryKeyExists(Hive::LocalMachine, key.path()));
    ScratchKey machine(Hive::LocalMachine);
    if (!machine.created()) GTEST_SKIP() << "this account cannot write HKEY_LOCAL_MACHINE";
    machine.set("path", "machine");
    EXPECT_EQ(readOr(Hive::LocalMachine, machine.path(), "path"), "machine");
}
