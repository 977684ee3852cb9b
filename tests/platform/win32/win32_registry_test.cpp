// The registry reads against keys this test writes itself, under a key path of
// its own that is deleted afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace {

HKEY rootOf(platform::Hive hive) {
    return hive == platform::Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// A key made for one test, named after the process so that tests running side
// by side never share one, and deleted with everything below it.
class ScratchKey {
public:
    explicit ScratchKey(platform::Hive hive)
        : root_(rootOf(hive)),
          path_(std::string(parentPath) + "\\" + std::to_string(GetCurrentProcessId())) {
        created_ = RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &key_, nullptr) == ERROR_SUCCESS;
    }
    ~ScratchKey() {
        if (!created_) return;
        RegCloseKey(key_);
        RegDeleteTreeA(root_, path_.c_str());
        RegDeleteKeyA(root_, parentPath);  // fails, as it should, while others use it
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    bool created() const { return created_; }
    const std::string& path() const { return path_; }
    // Stores `text` as REG_SZ with its terminator.
    void set(const std::string& name, const std::string& text) {
        ASSERT_EQ(RegSetValueExA(key_, name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }

private:
    static constexpr const char* parentPath = "SOFTWARE\\PelorinAutoUpdateTests";
    HKEY root_;
    std::string path_;
    HKEY key_ = nullptr;
    bool created_ = false;
};

std::string readOr(platform::Hive hive, const std::string& keyPath, const std::string& name,
                   const std::string& fallback = "untouched") {
    std::string value = fallback;
    platform::readRegistryString(hive, keyPath, name, value);
    return value;
}

}  // namespace

TEST(Win32Registry, ValueFillingTheBufferWithItsTerminatorReadsAndALongerOneFails) {
    ScratchKey key(platform::Hive::CurrentUser);
    ASSERT_TRUE(key.created());
    const std::string fits(259, 'a');
    key.set("fits", fits);
    key.set("long", std::string(260, 'b'));
    key.set("longer", std::string(1000, 'c'));
    std::string value;
    EXPECT_TRUE(
        platform::readRegistryString(platform::Hive::CurrentUser, key.path(), "fits", value));
    EXPECT_EQ(value, fits);
    EXPECT_FALSE(
        platform::readRegistryString(platform::Hive::CurrentUser, key.path(), "long", value));
    EXPECT_EQ(readOr(platform::Hive::CurrentUser, key.path(), "longer"), "untouched");
}

TEST(Win32Registry, MissingValueOrKeyFailsAndLeavesTheTextAlone) {
    ScratchKey key(platform::Hive::CurrentUser);
    ASSERT_TRUE(key.created());
    key.set("path", "C:\\Halvorne\\Pelorin\\Update\\PelorinAutoUpdate.exe");
    EXPECT_EQ(readOr(platform::Hive::CurrentUser, key.path(), "path"),
              "C:\\Halvorne\\Pelorin\\Update\\PelorinAutoUpdate.exe");
    EXPECT_EQ(readOr(platform::Hive::CurrentUser, key.path(), "other"), "untouched");
    EXPECT_EQ(readOr(platform::Hive::CurrentUser, key.path() + "\\Missing", "path"), "untouched");
    EXPECT_TRUE(platform::registryKeyExists(platform::Hive::CurrentUser, key.path()));
    EXPECT_FALSE(
        platform::registryKeyExists(platform::Hive::CurrentUser, key.path() + "\\Missing"));
}

// A key in one hive must not be found in the other: discovery tells a user
// installation from a machine one by this alone.
TEST(Win32Registry, EachHiveIsReadOnlyFromItself) {
    ScratchKey user(platform::Hive::CurrentUser);
    ASSERT_TRUE(user.created());
    user.set("path", "user");
    EXPECT_FALSE(platform::registryKeyExists(platform::Hive::LocalMachine, user.path()));
    EXPECT_EQ(readOr(platform::Hive::LocalMachine, user.path(), "path"), "untouched");
}

TEST(Win32Registry, MachineHiveValueIsRead) {
    ScratchKey machine(platform::Hive::LocalMachine);
    if (!machine.created()) GTEST_SKIP() << "this account cannot write HKEY_LOCAL_MACHINE";
    machine.set("path", "machine");
    EXPECT_EQ(readOr(platform::Hive::LocalMachine, machine.path(), "path"), "machine");
    EXPECT_FALSE(platform::registryKeyExists(platform::Hive::CurrentUser, machine.path()));
}
