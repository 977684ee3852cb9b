// pelorin-publish run as a publisher runs it, on real packages: what it
// refuses, with which line, and that a refusal writes no manifest and leaves
// no unpacked files behind.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "e2e/sample_packages.h"
#include "support/installation.h"
#include "support/temp_dir.h"

namespace {

struct PublishCase {
    const char* what;
    const char* package;  // a key of the packages below
    const char* version;
    const char* list;  // the server list's text; null for none
    bool allowUnauthenticatedMirrors;
    int exitCode;
    const char* refusal;  // part of the one line on standard error; empty when none
};

const char* const httpsList = "Version = 1.1\nhttps://a.example/\n  https://b.example/m.xml\n";
const char* const mixedList =
    "Version = 1.1\nhttps://a.example/\nhttp://b.example/\nsftp://c.example\n";

const PublishCase publishCases[] = {
    {"good package", "good", "1.1", nullptr, false, 0, ""},
    {"text file", "text", "1.1", nullptr, false, 1, "the package is no installer package"},
    {"cut package", "cut", "1.1", nullptr, false, 1, "does not unpack (status 1): it is cut"},
    {"no program tree", "no tree", "1.1", nullptr, false, 1,
     "the package holds no program files/Halvorne/Pelorin tree"},
    {"no version file", "no version file", "1.1", nullptr, false, 1,
     "the package holds no Application/UpdatePelorin.xml"},
    {"older version file", "says 1.0", "1.1", nullptr, false, 1,
     "UpdatePelorin.xml says version 1.0, but --version is 1.1: every installation would be "
     "offered the package again"},
    {"https list", "good", "1.1", httpsList, false, 0, ""},
    {"list of another version", "good", "1.1", "Version = 1.0\nhttps://a.example/\n", false, 1,
     "says Version = 1.0, but --list-version is 1.1"},
    {"list of no server", "good", "1.1", "Version = 1.1\nHTTPS://a.example/\n", false, 1,
     "names no server"},
    {"list with mirrors without https", "good", "1.1", mixedList, false, 1,
     "the server list names 2 server(s) without https, such as the manifest at "
     "http://b.example/Win/UpdateWin.xml"},
    {"mirrors without https allowed", "good", "1.1", mixedList, true, 0, ""},
};

std::string written(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    return path;
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

}  // namespace

TEST(PublishCommand, RefusesWhatNoUpdaterCouldInstall) {
    TempDir files;
    const std::string good = samplePackage("1.1");
    const std::string goodBytes = readFile(good);
    const std::map<std::string, std::string> packages = {
        {"good", good},
        {"text", written(files.path() + "/notes.txt", "Pelorin 1.1 release notes\n")},
        {"cut", written(files.path() + "/cut.msi", goodBytes.substr(0, goodBytes.size() / 2))},
        {"no tree", samplePackage("1.1", "--no-program-tree")},
        {"no version file", samplePackage("1.1", "--no-version-file")},
        {"says 1.0", samplePackage("1.1", "--version-file-says 1.0")},
    };
    for (const PublishCase& row : publishCases) {
        SCOPED_TRACE(row.what);
        TempDir work;
        const std::string tmp = work.path() + "/tmp";
        const std::string manifest = work.path() + "/UpdateWin.xml";
        const std::string errors = work.path() + "/errors.txt";
        std::filesystem::create_directory(tmp);
        std::string command = "TMPDIR=" + quoted(tmp) + " " + quoted(PELORIN_PUBLISH_EXE) +
                              " --package " + quoted(packages.at(row.package)) + " --version " +
                              row.version + " --url https://a.example/Pelorin.msi --output " +
                              quoted(manifest);
        if (row.list) {
            command += " --list " + quoted(written(work.path() + "/ServerList.lst", row.list)) +
                       " --list-version 1.1 --list-url https://a.example/ServerList.lst";
        }
        if (row.allowUnauthenticatedMirrors) command += " --allow-unauthenticated-mirrors";
        const int status = std::system((command + " 2>" + quoted(errors)).c_str());

        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), row.exitCode);
        const std::string errorText = readFile(errors);
        if (*row.refusal == '\0') {
            EXPECT_EQ(errorText, "");
        } else {
            EXPECT_EQ(errorText.rfind("pelorin-publish: ", 0), 0u) << errorText;
            EXPECT_NE(errorText.find(row.refusal), std::string::npos) << errorText;
            EXPECT_EQ(errorText.find('\n'), errorText.size() - 1) << errorText;
        }
        EXPECT_EQ(std::filesystem::exists(manifest), row.exitCode == 0);
        EXPECT_TRUE(std::filesystem::is_empty(tmp));  // the unpacked package is gone
    }
}
