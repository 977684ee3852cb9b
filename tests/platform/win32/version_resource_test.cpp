// The version that the log's banner shows and the one in the executable's
// version resource are written in two places; a release must bump both.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/own_executable.h"
#include "support/temp_dir.h"

namespace {

std::string updaterPath() {
    return besideOwnExecutable(platform::updaterExecutableName);
}

class VersionInfo {
public:
    explicit VersionInfo(const std::string& path) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        data_.resize(size);
        if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, data_.data())) data_.clear();
    }
    bool found() const { return !data_.empty(); }

    const VS_FIXEDFILEINFO* fixed() {
        void* block = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data_.data(), "\\", &block, &length) ||
            length < sizeof(VS_FIXEDFILEINFO))
            return nullptr;
        return static_cast<const VS_FIXEDFILEINFO*>(block);
    }

    // A value of the first string table the resource names.
    std::string text(const char* name) {
        struct Translation {
            WORD language, codePage;
        };
        void* block = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data_.data(), "\\VarFileInfo\\Translation", &block, &length) ||
            length < sizeof(Translation))
            return "<no translation>";
        const Translation* translation = static_cast<const Translation*>(block);
        char query[96];
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                      translation->codePage, name);
        if (!VerQueryValueA(data_.data(), query, &block, &length)) return "<missing>";
        return static_cast<const char*>(block);
    }

private:
    std::vector<char> data_;
};

// TMP for this process and the children it starts, put back afterwards.
class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::string& folder) {
        if (const char* previous = std::getenv("TMP")) previous_ = previous;
        _putenv_s("TMP", folder.c_str());
    }
    ~TemporaryFolderOverride() { _putenv_s("TMP", previous_.c_str()); }
    TemporaryFolderOverride(const TemporaryFolderOverride&) = delete;
    TemporaryFolderOverride& operator=(const TemporaryFolderOverride&) = delete;

private:
    std::string previous_;
};

// The text between the brackets of the banner the updater writes, run with a
// command it rejects so that it does nothing else.
std::string bannerVersion() {
    TempDir temporary;
    {
        TemporaryFolderOverride override(temporary.path());
        const std::string updater = updaterPath();
        if (_spawnl(_P_WAIT, updater.c_str(), "PelorinAutoUpdate.exe", "version", nullptr) != 0)
            return "<updater failed>";
    }
    std::ifstream log(temporary.path() + "\\PelorinAutoUpdate.log");
    std::string banner;
    std::getline(log, banner);
    const std::size_t open = banner.find('['), close = banner.find(']');
    if (open == std::string::npos || close == std::string::npos) return "<no banner>";
    return banner.substr(open + 1, close - open - 1);
}

}  // namespace

TEST(Win32VersionResource, FileVersionEqualsTheLogBannersVersion) {
    VersionInfo info(updaterPath());
    ASSERT_TRUE(info.found()) << updaterPath() << " has no version resource";
    const std::string version = bannerVersion();
    EXPECT_EQ(info.text("FileVersion"), version);
    EXPECT_EQ(info.text("ProductVersion"), version);
    const VS_FIXEDFILEINFO* fixed = info.fixed();
    ASSERT_NE(fixed, nullptr);
    std::ostringstream numbers;
    numbers << HIWORD(fixed->dwFileVersionMS) << "." << LOWORD(fixed->dwFileVersionMS);
    EXPECT_EQ(numbers.str(), version);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
}
