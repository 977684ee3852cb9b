// The banner's version and the version resource's are written in two places; a release bumps both.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"

TEST(Win32VersionResource, FileVersionEqualsTheLogBannersVersion) {
    char own[MAX_PATH] = {};
    std::string path(own, GetModuleFileNameA(nullptr, own, MAX_PATH));
    path = path.substr(0, path.rfind('\\') + 1) + platform::updaterExecutableName;
    // The banner's version, from a run with a command it rejects, logging into a TMP of its own.
    TempDir temporary;
    const std::string savedTmp = std::getenv("TMP") ? std::getenv("TMP") : "";
    _putenv_s("TMP", temporary.path().c_str());
    EXPECT_EQ(_spawnl(_P_WAIT, path.c_str(), "PelorinAutoUpdate.exe", "version", nullptr), 0);
    _putenv_s("TMP", savedTmp.c_str());
    std::string banner;
    std::getline(std::ifstream(temporary.path() + "\\PelorinAutoUpdate.log"), banner);
    const std::size_t open = banner.find('[');
    const std::string version = banner.substr(open + 1, banner.find(']') - open - 1);
    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    ASSERT_FALSE(data.empty()) << path << " has no version resource";
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    const auto query = [&](const std::string& name) -> void* {
        void* block = nullptr;
        UINT length = 0;
        return VerQueryValueA(data.data(), name.c_str(), &block, &length) && length ? block
                                                                                    : nullptr;
    };
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query("\\"));
    const auto* language = static_cast<const WORD*>(query("\\VarFileInfo\\Translation"));
    ASSERT_TRUE(fixed && language);
    char table[40];
    std::snprintf(table, sizeof table, "\\StringFileInfo\\%04x%04x\\", language[0], language[1]);
    for (const char* name : {"FileVersion", "ProductVersion"}) {
        const char* text = static_cast<const char*>(query(table + std::string(name)));
        EXPECT_EQ(text ? text : "<missing>", version) << name;
    }
    EXPECT_EQ(std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                  std::to_string(LOWORD(fixed->dwFileVersionMS)),
              version);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
}
