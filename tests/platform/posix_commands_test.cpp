// The unpack and copy command lines, run through /bin/sh against a real
// package built by tools/sample_release/make_sample_msi.sh.
#include "platform/posix/posix_commands.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fs = std::filesystem;
using posix_commands::adminUnpack;
using posix_commands::copyAndClean;
using posix_commands::removeTree;
using posix_commands::shellQuote;

namespace {

const char* const newVersionXml = "<Update><Version>1.5</Version></Update>\n";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

fs::path makeTempDir() {
    std::string pattern = (fs::temp_directory_path() / "posix_commands_XXXXXX").string();
    return mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
}

class PosixCommandsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        packageDir = makeTempDir();
        ASSERT_FALSE(packageDir.empty());
        package = packageDir / "Pelorin.msi";
        const std::string build =
            shellQuote(PELORIN_SOURCE_DIR "/tools/sample_release/make_sample_msi.sh") + " 1.5 " +
            shellQuote(package.string());
        ASSERT_EQ(run(build), 0) << "the sample package needs wixl and msitools: " << build;
    }
    static void TearDownTestSuite() { fs::remove_all(packageDir); }

    void SetUp() override {
        root = makeTempDir();
        ASSERT_FALSE(root.empty());
        staging = root / "Halvorne" / "Update";
        installation = root / "Halvorne" / "Pelorin";
    }
    void TearDown() override { fs::remove_all(root); }

    int unpack(const fs::path& packagePath) {
        return run(adminUnpack(packagePath.string(), staging.string()));
    }
    // msiextract writes the standard ProgramFilesFolder as "Program Files".
    int copyToInstallation(const std::string& programFolder = "program files") {
        return run(copyAndClean((staging / programFolder / "Halvorne" / "Pelorin").string(),
                                installation.string(), (staging / programFolder).string()));
    }

    static fs::path packageDir;
    static fs::path package;
    fs::path root;
    fs::path staging;
    fs::path installation;
};

fs::path PosixCommandsTest::packageDir;
fs::path PosixCommandsTest::package;

TEST_F(PosixCommandsTest, UnpackLeavesPackageCopyAndProgramTree) {
    ASSERT_EQ(unpack(package), 0);

    EXPECT_EQ(readFile(staging / "Pelorin.msi"), readFile(package));
    const fs::path application = staging / "Program Files" / "Halvorne" / "Pelorin" / "Application";
    EXPECT_EQ(readFile(application / "UpdatePelorin.xml"), newVersionXml);
    EXPECT_TRUE(fs::is_regular_file(application / "resources" / "strings.txt"));
}

TEST_F(PosixCommandsTest, UnpackOfTruncatedPackageFailsWithoutPackageCopy) {
    const std::string bytes = readFile(package);
    const fs::path truncated = root / "Pelorin.msi";
    writeFile(truncated, bytes.substr(0, bytes.size() / 2));

    EXPECT_NE(unpack(truncated), 0);
    EXPECT_FALSE(fs::exists(staging / "Pelorin.msi"));
}

TEST_F(PosixCommandsTest, UnpackOfPackageWithBrokenCabinetFailsWithoutPackageCopy) {
    std::string bytes = readFile(package);
    const size_t cabinet = bytes.find("MSCF");
    ASSERT_NE(cabinet, std::string::npos);
    bytes.replace(cabinet, 4, "XXXX");
    const fs::path broken = root / "Pelorin.msi";
    writeFile(broken, bytes);

    EXPECT_NE(unpack(broken), 0);
    EXPECT_FALSE(fs::exists(staging / "Pelorin.msi"));
}

TEST_F(PosixCommandsTest, CopyReplacesInstalledFilesAndRemovesStagingTree) {
    ASSERT_EQ(unpack(package), 0);
    const fs::path unpacked = staging / "Program Files" / "Halvorne" / "Pelorin";
    writeFile(unpacked / ".settings", "hidden");
    writeFile(installation / "Application" / "UpdatePelorin.xml",
              "<Update><Version>1.0</Version></Update>\n");
    writeFile(installation / "Application" / "Bookmarks.txt", "kept");

    EXPECT_EQ(copyToInstallation("Program Files"), 0);

    const fs::path application = installation / "Application";
    EXPECT_EQ(readFile(application / "UpdatePelorin.xml"), newVersionXml);
    EXPECT_EQ(readFile(application / "Bookmarks.txt"), "kept");
    EXPECT_EQ(readFile(installation / ".settings"), "hidden");
    EXPECT_TRUE(fs::is_regular_file(application / "resources" / "theme.css"));
    EXPECT_FALSE(fs::exists(staging / "Program Files"));
    EXPECT_TRUE(fs::exists(staging / "Pelorin.msi"));
}

TEST_F(PosixCommandsTest, CopyCreatesMissingInstallationDirectories) {
    writeFile(staging / "program files" / "Halvorne" / "Pelorin" / "README.txt", "new");
    installation = root / "Users" / "me" / "Halvorne" / "Pelorin";

    EXPECT_EQ(copyToInstallation(), 0);
    EXPECT_EQ(readFile(installation / "README.txt"), "new");
}

TEST_F(PosixCommandsTest, FailedCopyKeepsStagingTree) {
    writeFile(staging / "program files" / "Halvorne" / "Pelorin" / "README.txt", "new");
    // A destination below a regular file cannot be made, even by root.
    writeFile(root / "Halvorne" / "Pelorin", "a file, not a directory");
    installation = root / "Halvorne" / "Pelorin" / "Pelorin";

    EXPECT_NE(copyToInstallation(), 0);
    EXPECT_TRUE(fs::exists(staging / "program files" / "Halvorne" / "Pelorin" / "README.txt"));
}

TEST_F(PosixCommandsTest, PathsWithSpacesQuotesAndDollarsStayWhole) {
    const fs::path base = root / "Pelorin's \"own\" $HOME `dir`";
    staging = base / "Update";
    installation = base / "Pelorin";
    const fs::path packageCopy = base / "Update Package's.msi";
    fs::create_directories(base);
    fs::copy_file(package, packageCopy);

    ASSERT_EQ(unpack(packageCopy), 0);
    EXPECT_TRUE(fs::exists(staging / "Pelorin.msi"));
    EXPECT_EQ(copyToInstallation("Program Files"), 0);
    EXPECT_EQ(readFile(installation / "Application" / "UpdatePelorin.xml"), newVersionXml);
    EXPECT_FALSE(fs::exists(staging / "Program Files"));
}

TEST_F(PosixCommandsTest, RemoveTreeTakesEveryLetterCaseOfTheNameAndNothingElse) {
    for (const char* name : {"program files", "Program Files", "PROGRAM FILES"}) {
        writeFile(staging / name / "Halvorne" / "old.txt", "stale");
    }
    for (const char* name : {"program files2", "program file?", "[p]rogram files", "Pelorin.msi"}) {
        writeFile(staging / name, "kept");
    }

    run(removeTree((staging / "program files").string()));

    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(staging)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Pelorin.msi", "[p]rogram files", "program file?",
                                              "program files2"}));
}

TEST(PathIgnoringCase, FindsWhatWindowsWouldFind) {
    const fs::path root = makeTempDir();
    fs::create_directories(root / "Program Files" / "Halvorne" / "Pelorin");
    fs::create_directories(root / "data" / "List");
    fs::create_directories(root / "data" / "list");
    const std::string base = root.string();
    const struct {
        std::string asked;
        std::string found;
    } cases[] = {
        {"/program files/halvorne/PELORIN", "/Program Files/Halvorne/Pelorin"},
        {"/Program Files/Halvorne/Pelorin", "/Program Files/Halvorne/Pelorin"},
        {"/data/list", "/data/list"},  // an exact match wins
        {"/PROGRAM FILES/Halvorne/Missing/x", "/Program Files/Halvorne/Missing/x"},
        {"/nothing/here", "/nothing/here"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::pathIgnoringCase(base + c.asked), base + c.found) << c.asked;
    }
    fs::remove_all(root);
}

}  // namespace
