// The version the log's banner shows and the one in the executable's version
// resource are written in two places; a release must bump both.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

std::string updaterPath() {
    char path[MAX_PATH] = {};
    const std::string own(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return own.substr(0, own.rfind('\\') + 1) + platform::updaterExecutableName;
}

// The text between the banner's brackets, from a run with a command it rejects.
std::string bannerVersion() {
    TempDir temporary;
    const char* previous = std::getenv("TMP");
    const std::string saved = previous ? previous : "";
    _putenv_s("TMP", temporary.path().c_str());
    const intptr_t status =
        _spawnl(_P_WAIT, updaterPath().c_str(), "PelorinAutoUpdate.exe", "version", nullptr);
    _putenv_s("TMP", saved.c_str());
    std::ifstream log(temporary.path() + "\\PelorinAutoUpdate.log");
    std::string banner;
    std::getline(log, banner);
    const std::size_t open = banner.find('['), close = banner.find(']');
    if (status != 0 || open == std::string::npos || close == std::string::npos) return "<none>";
    return banner.substr(open + 1, close - open - 1);
}

}  // namespace

TEST(Win32VersionResource, FileVersionEqualsTheLogBannersVersion) {
    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeA(updaterPath().c_str(), &ignored));
    ASSERT_FALSE(data.empty()) << updaterPath() << " has no version resource";
    ASSERT_TRUE(GetFileVersionInfoA(updaterPath().c_str(), 0, static_cast<DWORD>(data.size()),
                                    data.data()));
    const auto query = [&](const std::string& name) -> void* {
        void* block = nullptr;
        UINT length = 0;
        return VerQueryValueA(data.data(), name.c_str(), &block, &length) && length ? block
                                                                                    : nullptr;
    };
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query("\\"));
    const auto* translation = static_cast<const WORD*>(query("\\VarFileInfo\\Translation"));
    ASSERT_TRUE(fixed && translation);
    char table[40];
    std::snprintf(table, sizeof table, "\\StringFileInfo\\%04x%04x\\", translation[0],
                  translation[1]);
    const std::string version = bannerVersion();
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
