// Loading ServerList.lst: the default file, the line rules in their order,
// and the two failures that leave the load as an exception.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "serverlist/list_fixture.h"

namespace {

using Urls = std::vector<std::string>;

const char* const defaultList =
    "# all items should start with a new line items may\n"
    "# contain space at beginning and end, urls should\n"
    "# start with http://, https://, sftp:// or ftp://\n"
    "\n"
    "Version = 1.0\n"
    "\n";

// The message of the exception a load raises; empty when it raises none.
std::string loadFailure(ServerList& list) {
    try {
        list.load();
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return std::string();
}

}  // namespace

using ServerListLoad = ListFixture;

TEST_F(ServerListLoad, MissingFileIsCreatedWithTheDefaultContent) {
    ServerList list(listPath, *context);
    // Text mode writes LF here; on Windows the same lines take 173 bytes.
    EXPECT_EQ(readFile(listPath), defaultList);
    EXPECT_EQ(readFile(listPath).size(), 167u);
    EXPECT_EQ(list.version, "1.0");
    EXPECT_TRUE(list.urls.empty());
    list.load();
    EXPECT_EQ(readFile(listPath), defaultList);
}

TEST_F(ServerListLoad, EmptyFileHasNoVersionAndIsLeftUntouched) {
    auto list = loadList("");
    EXPECT_EQ(list->version, "0.0");
    EXPECT_TRUE(list->urls.empty());
    EXPECT_TRUE(std::filesystem::exists(listPath));
    EXPECT_EQ(std::filesystem::file_size(listPath), 0u);
}

TEST_F(ServerListLoad, OnlySpacesAreStrippedAndBothLineEndsEndALine) {
    auto list = loadList(
        "   https://spaces.example/list   \r\n"
        "\thttps://tab.example/list\n"
        "https://crlf.example/\r\n"
        "https://last.example/no-line-end");
    EXPECT_EQ(sorted(list->urls), sorted({"https://spaces.example/list/Win/UpdateWin.xml",
                                          "https://crlf.example/Win/UpdateWin.xml",
                                          "https://last.example/no-line-end/Win/UpdateWin.xml"}));
}

TEST_F(ServerListLoad, CommentsAndEmptyLinesAreSkippedWhereverTheyStand) {
    auto list = loadList(
        "# https://commented.example\n"
        "     # Version = 4.0\n"
        "\n"
        "      \n"
        "https://a.example\n"
        "#https://b.example\n"
        "Version = 3.0\n");
    EXPECT_EQ(list->version, "3.0");
    EXPECT_EQ(list->urls, Urls{"https://a.example/Win/UpdateWin.xml"});
}

TEST_F(ServerListLoad, VersionLineIsAnyCasePrefixAndTakesTheValueAfterTheLastEquals) {
    EXPECT_EQ(loadList("VERSION=2.5B\n")->version, "2.5b");
    EXPECT_EQ(loadList("  version   =   7  \n")->version, "7");
    EXPECT_EQ(loadList("Versioning = 3.1\n")->version, "3.1");
    EXPECT_EQ(loadList("version = 1 = 4.2\n")->version, "4.2");
}

TEST_F(ServerListLoad, FirstVersionOtherThanZeroWins) {
    EXPECT_EQ(loadList("Version = 1.0\nVersion = 2.0\n")->version, "1.0");
    EXPECT_EQ(loadList("Version = 0.0\nVersion = 2.0\n")->version, "2.0");
    // A later version line is tested as an entry and so dropped.
    auto list = loadList("Version = 1.0\nversion=https://x.example\n");
    EXPECT_EQ(list->version, "1.0");
    EXPECT_TRUE(list->urls.empty());
}

TEST_F(ServerListLoad, VersionLineWithoutValueIsIgnored) {
    EXPECT_EQ(loadList("Version =\n")->version, "0.0");
    EXPECT_EQ(loadList("Version =    \n")->version, "0.0");
    EXPECT_EQ(loadList("Version 2.0\n")->version, "0.0");
    EXPECT_EQ(loadList("Version =\nVersion = 5\n")->version, "5");
    // A reload starts again from "0.0".
    auto list = loadList("Version = 6\n");
    writeBytes(listPath, "https://a.example\n");
    list->load();
    EXPECT_EQ(list->version, "0.0");
}

TEST_F(ServerListLoad, EntryNeedsALowerCaseSchemeAndEightCharacters) {
    auto list = loadList(
        "HTTPS://capitals.example\n"
        "Http://mixed.example\n"
        "http://\n"
        "ftp://a\n"
        "ftp://ab\n"
        "sftp://x\n"
        "gopher://other.example\n"
        "www.example.com\n"
        "http://plain.example\n");
    EXPECT_EQ(sorted(list->urls),
              sorted({"ftp://ab/Win/UpdateWin.xml", "sftp://x/Win/UpdateWin.xml",
                      "http://plain.example/Win/UpdateWin.xml"}));
}

TEST_F(ServerListLoad, ManifestUrlIsAppendedOnceUnlessTheEntryEndsInXml) {
    auto list = loadList(
        "https://slash.example/path/\n"
        "https://noslash.example/path\n"
        "https://manifest.example/own.xml\n"
        "https://capitals.example/OWN.XML\n");
    EXPECT_EQ(sorted(list->urls), sorted({"https://slash.example/path/Win/UpdateWin.xml",
                                          "https://noslash.example/path/Win/UpdateWin.xml",
                                          "https://manifest.example/own.xml",
                                          "https://capitals.example/OWN.XML/Win/UpdateWin.xml"}));
}

TEST_F(ServerListLoad, DuplicateEntriesAreKept) {
    auto list = loadList("https://twice.example\nhttps://twice.example\n");
    EXPECT_EQ(list->urls, Urls(2, "https://twice.example/Win/UpdateWin.xml"));
}

TEST_F(ServerListLoad, EntriesBeyondTheBoundAreIgnoredButLaterVersionLinesAreRead) {
    std::string content;
    Urls expected;
    for (std::size_t i = 0; i < ServerList::maxEntries + 5; ++i) {
        const std::string entry = "https://s" + std::to_string(i) + ".example/";
        content += entry + "\n";
        if (i < ServerList::maxEntries) expected.push_back(entry + "Win/UpdateWin.xml");
    }
    content += "Version = 8.0\n";
    auto list = loadList(content);
    EXPECT_EQ(list->urls.size(), ServerList::maxEntries);
    EXPECT_EQ(sorted(list->urls), sorted(expected));
    EXPECT_EQ(list->version, "8.0");
}

TEST_F(ServerListLoad, FileThatCannotBeCreatedRaisesItsMessageAndKeepsTheList) {
    const std::string unreachable = listDir + "/missing-directory/ServerList.lst";
    try {
        ServerList list(unreachable, *context);
        FAIL() << "no exception";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Server list file missing, attempt to create failed");
    }
    auto list = loadList("Version = 2.0\nhttps://a.example\n");
    list->path = unreachable;
    EXPECT_EQ(loadFailure(*list), "Server list file missing, attempt to create failed");
    EXPECT_EQ(list->version, "2.0");
    EXPECT_EQ(list->urls, Urls{"https://a.example/Win/UpdateWin.xml"});
}

// A write-only file: the load cannot read it, writes the default content over
// it and then fails to read that too. Root reads anything, so the load runs
// in a child that has given up root's rights.
TEST_F(ServerListLoad, WriteOnlyFileIsOverwrittenWithTheDefaultThenReported) {
    auto list = loadList("Version = 2.0\nhttps://a.example\n");
    const bool asRoot = ::geteuid() == 0;
    constexpr uid_t nobody = 65534;
    if (asRoot) {
        ASSERT_EQ(::chmod(installation.root.path().c_str(), 0711), 0);
        ASSERT_EQ(::chown(listDir.c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chown(listPath.c_str(), nobody, nobody), 0);
    }
    ASSERT_EQ(::chmod(listPath.c_str(), 0200), 0);
    context->logStream->flush();
    const pid_t child = ::fork();
    if (child == 0) {
        if (asRoot && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) ::_exit(77);
        const std::string message = loadFailure(*list);
        const bool kept = list->version == "2.0" && list->urls.size() == 1;
        ::_exit(message == "Failed to open server list file for unknown reason" && kept ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot give up root's rights";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "wrong message, or the list did not keep its entries";
    EXPECT_EQ(readFile(listPath), defaultList);
}

TEST_F(ServerListLoad, DirectoryIsThePathBeforeItsLastSeparator) {
    auto list = loadList("");
    EXPECT_EQ(list->directory(), listDir);
    list->path = "ServerList.lst";
    EXPECT_EQ(list->directory(), "./");
}

TEST_F(ServerListLoad, FileHashIsEmptyOnceTheFileIsGone) {
    auto list = loadList("Version = 1.0\n");
    // SHA-1 of "Version = 1.0\n", as `sha1sum` gives it, in upper case.
    EXPECT_EQ(list->fileHash(), "D3B7961822C78086B9D12A80FCD7971F6A645958");
    std::filesystem::remove(listPath);
    EXPECT_EQ(list->fileHash(), "");
}
