#include "core/path_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/platform.h"
#include "support/temp_dir.h"

// Expectations are written with '/'; they hold with the platform's separator.
static std::string native(std::string path) {
    std::replace(path.begin(), path.end(), '/', platform::pathSeparator);
    return path;
}

TEST(PathUtils, TextsAreExact) {
    const struct {
        std::string made, expected;
    } cases[] = {
        {joinPath(native("/A"), "x.pem"), native("/A/x.pem")},
        {joinPath(native("/A/"), "x.pem"), native("/A//x.pem")},
        {joinPath("", "x.pem"), native("/x.pem")},
        {parentPath(native("/A/B")), native("/A")},
        {parentPath(native("/A/")), native("/A")},
        {parentPath("plain"), "plain"},
        {parentPath(""), ""},
        {urlParent("https://host/Win/UpdateWin.xml"), "https://host/Win"},
        {urlParent("nourl"), "nourl"},
        {formatText("%.2f", 3520 / 1000.0), "3.52"},
        {formatText("%s", std::string(400, 'x').c_str()), std::string(259, 'x')},
        {intToText(-5), "-5"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.made, c.expected);
}

// An existing directory is accepted; no parents are made; a file is no directory.
TEST(PathUtils, FilesAndDirectories) {
    TempDir dir;
    const std::string file = dir.path() + native("/file");
    std::ofstream(file) << "x";
    EXPECT_TRUE(fileExists(file) && !directoryExists(file) && directoryExists(dir.path()));
    EXPECT_FALSE(fileExists(dir.path() + native("/missing")));
    EXPECT_TRUE(makeDirectory(dir.path()) && makeDirectory(dir.path() + native("/new")));
    EXPECT_TRUE(directoryExists(dir.path() + native("/new")));
    EXPECT_FALSE(makeDirectory(dir.path() + native("/missing/child")) || makeDirectory(file));
}
