#include "app/path_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

// The expectations are written with '/', and hold with the platform's own
// separator in its place.
std::string native(std::string path) {
    std::replace(path.begin(), path.end(), '/', platform::pathSeparator);
    return path;
}

}  // namespace

TEST(PathUtils, JoinDoublesATrailingSeparator) {
    EXPECT_EQ(joinPath(native("/A"), "x.pem"), native("/A/x.pem"));
    EXPECT_EQ(joinPath(native("/A/"), "x.pem"), native("/A//x.pem"));
    EXPECT_EQ(joinPath("", "x.pem"), native("/x.pem"));
}

TEST(PathUtils, ParentKeepsTextBeforeTheLastSeparator) {
    EXPECT_EQ(parentPath(native("/A/B")), native("/A"));
    EXPECT_EQ(parentPath(native("/A/")), native("/A"));
    EXPECT_EQ(parentPath("plain"), "plain");
    EXPECT_EQ(parentPath(""), "");
    EXPECT_EQ(urlParent("a/b/c.xml"), "a/b");
    EXPECT_EQ(urlParent("nourl"), "nourl");
    EXPECT_EQ(urlParent("https://host/Win/UpdateWin.xml"), "https://host/Win");
}

TEST(PathUtils, ExistenceTestsTellFilesFromDirectories) {
    TempDir dir;
    const std::string file = dir.path() + "/file";
    std::ofstream(file) << "x";
    EXPECT_TRUE(fileExists(dir.path()));
    EXPECT_TRUE(fileExists(file));
    EXPECT_FALSE(directoryExists(file));
    EXPECT_TRUE(directoryExists(dir.path()));
    EXPECT_FALSE(fileExists(dir.path() + "/missing"));
}

TEST(PathUtils, MakeDirectoryAcceptsAnExistingOneButCreatesNoParents) {
    TempDir dir;
    EXPECT_TRUE(makeDirectory(dir.path()));
    EXPECT_TRUE(makeDirectory(dir.path() + "/new"));
    EXPECT_TRUE(directoryExists(dir.path() + "/new"));
    EXPECT_FALSE(makeDirectory(dir.path() + "/missing/child"));
    std::ofstream(dir.path() + "/file") << "x";
    EXPECT_FALSE(makeDirectory(dir.path() + "/file"));
}

TEST(PathUtils, TextFormattingStopsAtTheBuffer) {
    EXPECT_EQ(formatText("%.2f", 3520 / 1000.0), "3.52");
    EXPECT_EQ(formatText("%s", std::string(400, 'x').c_str()).size(), 259u);
    EXPECT_EQ(intToText(-5), "-5");
}
