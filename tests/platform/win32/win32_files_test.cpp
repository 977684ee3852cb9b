// The runtime's file calls behind the platform layer, on real Windows paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File adopt(FILE* file) {
    return File(file, &std::fclose);
}

}  // namespace

// The log's folder is this text less its one trailing backslash.
TEST(Win32Files, TemporaryDirectoryEndsInABackslashAndExistsWithoutIt) {
    const std::string temporary = platform::temporaryDirectory();
    ASSERT_FALSE(temporary.empty());
    EXPECT_EQ(temporary.back(), '\\');
    EXPECT_TRUE(platform::fileStatus(temporary.substr(0, temporary.size() - 1)).isDirectory);
}

TEST(Win32Files, StatusTellsFilesFromDirectories) {
    TempDir dir;
    const std::string file = dir.path() + "\\file.txt";
    std::ofstream(file) << "x";
    EXPECT_TRUE(platform::fileStatus(file).exists);
    EXPECT_FALSE(platform::fileStatus(file).isDirectory);
    EXPECT_TRUE(platform::fileStatus(dir.path()).isDirectory);
    EXPECT_FALSE(platform::fileStatus(dir.path() + "\\missing").exists);
}

// makeDirectory accepts an existing directory only through alreadyExists.
TEST(Win32Files, CreatingWhatIsThereReportsAlreadyExists) {
    TempDir dir;
    bool alreadyExists = false;
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
    {
        File narrow = adopt(platform::openFile(name, "wb"));
        if (!narrow) GTEST_SKIP() << "the ANSI code page lacks these characters";
        std::fputs("x", narrow.get());
    }
    File wide = adopt(platform::openFileWide(platform::widenPath(name), "rb"));
    ASSERT_TRUE(wide);
    EXPECT_EQ(std::fgetc(wide.get()), 'x');
}
