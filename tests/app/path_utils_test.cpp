#include "app/path_utils.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

TEST(PathUtils, JoinDoublesATrailingSeparator) {
    EXPECT_EQ(joinPath("/A", "x.pem"), "/A/x.pem");
    EXPECT_EQ(joinPath("/A/", "x.pem"), "/A//x.pem");
    EXPECT_EQ(joinPath("", "x.pem"), "/x.pem");
}

TEST(PathUtils, ParentKeepsTextBeforeTheLastSeparator) {
    EXPECT_EQ(parentPath("/A/B"), "/A");
    EXPECT_EQ(parentPath("/A/"), "/A");
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
