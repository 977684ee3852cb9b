// ServerList.lst: line rules, random order, refresh from a real HTTPS server (log lines, files).
#include "serverlist/server_list.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <numeric>
#include <set>
#include <stdexcept>
#include <tuple>

#include "core/updater_context.h"
#include "platform/platform.h"
#include "serverlist/shuffle.h"
#include "support/installation.h"
#include "support/mount_namespace.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"
#include "transfer/transfer_handle.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

static const std::string m = "/Win/UpdateWin.xml";  // appended unless an entry ends in ".xml"
static const std::string oldList = "Version = 1.0\nhttps://old.example\n";
static const std::string checked =
    "Server list file downloaded successfully.\nValidating server list file...\n";
static const std::string validated = checked + "Server list file validated successfully.\n";

class ServerListLoad : public ::testing::Test {  // a context with its log open, no discovery
protected:
    void SetUp() override {
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        installation.writeFile(listPath, oldList);
        list = std::make_unique<ServerList>(listPath, *context);
    }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string listDir = installation.root.path() + "/Data";
    const std::string listPath = listDir + "/ServerList.lst";
    std::unique_ptr<ServerList> list;
};

// Each row loaded again by one list, from "0.0"; the file stays as it is.
TEST_F(ServerListLoad, LinesGiveTheVersionAndUrlsAMissingFileIsMadeOrRaised) {
    using Urls = std::multiset<std::string>;  // in any order
    const std::tuple<std::string, const char*, Urls> cases[] = {
        // text, version, URLs
        {"", "0.0", {}},
        {"  version   =   7  \n", "7", {}},
        {"# https://commented.example\n     # Version = 4.0\n\n      \nhttps://a.example\n"
         "#https://b.example\nVersion = 3.0\nhttps://a.example\n",
         "3.0",
         {"https://a.example" + m, "https://a.example" + m}},
        {"VERSION=2.5B\n", "2.5b", {}},
        {"Versioning = 3.1\n", "3.1", {}},
        {"version = 1 = 4.2\n", "4.2", {}},
        // The first version other than "0.0" wins; a later version line is no entry.
        {"Version = 1.0\nVersion = 2.0\nversion=https://x.example\n", "1.0", {}},
        {"Version = 0.0\nVersion = 2.0\n", "2.0", {}},
        {"Version =\nVersion =    \nVersion 2.0\nVersion = 5\n", "5", {}},
        // Only spaces are stripped; a scheme is lower case, an entry at least 8 characters.
        {"HTTPS://capitals.example\nHttp://mixed.example\nhttp://\nftp://a\nftp://ab\nsftp://x\n"
         "gopher://other.example\nwww.example.com\nhttp://plain.example\n"
         "https://slash.example/path/\nhttps://noslash.example/path\n"
         "https://manifest.example/own.xml\nhttps://capitals.example/OWN.XML\n"
         "   https://spaces.example/list   \r\n\thttps://tab.example/list\n"
         "https://crlf.example/\r\nhttps://last.example/no-line-end",
         "0.0",
         {"ftp://ab" + m, "http://plain.example" + m, "sftp://x" + m,
          "https://capitals.example/OWN.XML" + m, "https://manifest.example/own.xml",
          "https://noslash.example/path" + m, "https://slash.example/path/Win/UpdateWin.xml",
          "https://crlf.example" + m, "https://last.example/no-line-end" + m,
          "https://spaces.example/list" + m}},
    };
    for (const auto& [text, version, urls] : cases) {
        SCOPED_TRACE(text);
        installation.writeFile(listPath, text);
        list->load();
        EXPECT_EQ(list->version, version);
        EXPECT_EQ(Urls(list->urls.begin(), list->urls.end()), urls);
        EXPECT_EQ(readFile(listPath), text);
    }
    // Entries beyond the bound are dropped, later lines still read; the second seeds the shuffle.
    std::string many;
    Lines kept;
    for (std::size_t i = 0; i < ServerList::maxEntries + 5; ++i) {
        many += "https://s" + std::to_string(i) + ".example\n";
        kept.push_back("https://s" + std::to_string(i) + ".example" + m);
    }
    kept.resize(ServerList::maxEntries);
    installation.writeFile(listPath, many + "Version = 8.0\n");
    Lines early = kept;
    shuffleEntries(early, static_cast<unsigned>(platform::calendarSeconds()));
    list->load();
    shuffleEntries(kept, static_cast<unsigned>(platform::calendarSeconds()));
    EXPECT_EQ(list->version, "8.0");
    EXPECT_TRUE(list->urls == early || list->urls == kept);
    // A missing file is written with the default, or the load raises; the list keeps its entries.
    fs::remove(listPath);
    list->load();
    EXPECT_EQ(list->version, "1.0");
    installation.writeFile(listPath, oldList);
    list->load();
    EXPECT_EQ(list->fileHash(), "27B92FC27C157F501A4002208E973CF0D8D548D1");
    EXPECT_EQ(list->directory(), listDir);
    list->path = listDir + "/missing/ServerList.lst";
    EXPECT_EQ(list->fileHash(), "");
    try {
        list->load();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Server list file missing, attempt to create failed");
    }
    EXPECT_EQ(list->urls, Lines{"https://old.example" + m});
    list->path = "ServerList.lst";
    EXPECT_EQ(list->directory(), "./");
}

TEST(Shuffle, EachSeedGivesItsOrder) {
    for (const std::string row :  // seed: the order of as many letters
         {"1:", "1:a", "2:efdacgb", "1:becfdga", "1700000000:bcdafge",
          "5:tlwqsokphdueamxjvnifgzbrcy"}) {
        const std::string order = row.substr(row.find(':') + 1);
        Lines entries;
        for (char letter = 'a'; entries.size() < order.size(); ++letter)
            entries.emplace_back(1, letter);
        shuffleEntries(entries, std::stoul(row));
        EXPECT_EQ(std::accumulate(entries.begin(), entries.end(), std::string()), order) << row;
    }
}

class ServerListRefresh : public ServerListLoad {
protected:
    static void SetUpTestSuite() { server = new TestServer(); }
    static void TearDownTestSuite() { delete server; }

    // On a handle as the manifest's fetch leaves it, trusting `caBundle`.
    std::string refresh(const std::string& url, const std::string& hash, bool expected,
                        const std::string& caBundle = TestServer::caBundlePath()) {
        context->logStream->flush();
        const std::size_t start = readFile(installation.logPath()).size();
        TransferHandle handle(caBundle, TransferTimeouts());
        EXPECT_EQ(list->refresh(handle, url, hash), expected);
        context->logStream->flush();
        return readFile(installation.logPath()).substr(start);
    }

    static inline TestServer* server = nullptr;
    const std::string backup = listPath + ".bak", temporary = listDir + "/~tmpList.lst";
};

// The download replaces the list byte for byte, the list (if any) is the backup; the state stays.
TEST_F(ServerListRefresh, NewListIsWrittenAndLoaded) {
    const std::tuple<bool, std::string, const char*, std::string> cases[] = {
        // list file there, new list, its version, backup afterwards
        {true, "Version = 2.0\r\nhttps://new.example\r\n", "2.0", oldList},
        {false, "https://a.example\n", "0.0", "backup of an earlier refresh"},
    };
    context->state = LogLevel::Error;
    for (const auto& [listThere, text, version, backupAfter] : cases) {
        SCOPED_TRACE(text);
        installation.writeFile(temporary, "stale download, longer than the new list");
        installation.writeFile(backup, "backup of an earlier refresh");
        if (!listThere) fs::remove(listPath);
        const std::string hash = hashFileToHex(server->putFile("/new.lst", text));
        EXPECT_EQ(
            refresh(server->url("/new.lst"), hash, true),
            validated + "Server list file successfully updated to version " + version + ".\n");
        EXPECT_EQ(readFile(listPath), text);
        EXPECT_EQ(readFile(backup), backupAfter);
        EXPECT_FALSE(fs::exists(temporary));
        EXPECT_EQ(list->urls.size(), 1u);
        EXPECT_EQ(context->state, LogLevel::Error);
    }
}

// The list stays, no backup or download is left. An absent or untrusted server logs nothing.
TEST_F(ServerListRefresh, FailedRefreshChangesNothing) {
    const std::string url = server->url("/failed.lst"), ca = TestServer::caBundlePath();
    server->putFile("/failed.lst", "Version = 2.0\nhttps://new.example\n");
    const std::tuple<std::string, std::string, std::string> cases[] = {
        // URL, CA bundle, lines
        {url, ca, checked + "Error! Server list file validation failed.\n"},
        {"", ca, "Error! Failed to download server list file.\n"},
        {"https://127.0.0.1:1/ServerList.lst", ca, ""},  // refused
        {url, TestServer::foreignCaPath(), ""},
    };
    for (const auto& [from, caBundle, lines] : cases) {
        SCOPED_TRACE(from);
        // The file's hash in lower case: servers publish it in upper case.
        EXPECT_EQ(refresh(from, "3845657643386df8c6e87ea7f7e52e60a04c5fe7", false, caBundle),
                  lines);
        EXPECT_EQ(readFile(listPath), oldList);
        EXPECT_EQ(list->version, "1.0");
        EXPECT_FALSE(fs::exists(backup));
        EXPECT_FALSE(fs::exists(temporary));
    }
}

// A list nobody may open (a socket) leaves no empty backup behind.
TEST_F(ServerListRefresh, UnreadableListLeavesNoBackup) {
    const std::string hash = hashFileToHex(server->putFile("/socket.lst", "Version = 2.0\n"));
    fs::remove(listPath);
    sockaddr_un address{AF_UNIX, {}};
    listPath.copy(address.sun_path, sizeof address.sun_path - 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(refresh(server->url("/socket.lst"), hash, false),
              validated + "Error! Failed to backup existing server list file.\n");
    EXPECT_FALSE(fs::exists(backup) || fs::exists(temporary));
    ::close(socket);
}

// A 64 KiB disk (mounted by a child) holds the download but not the backup of a large old list.
TEST_F(ServerListRefresh, ListStaysWhenTheDiskCannotHoldItsBackup) {
    std::string large = "Version = 9.0\n";
    while (large.size() < 40 * 1024) large += "# the padding of a large list\n";
    const std::string hash = hashFileToHex(server->putFile("/disk.lst", "Version = 2.0\n"));
    context->logStream->flush();
    const pid_t child = ::fork();
    if (child == 0) {
        if (!enterOwnMountNamespace() ||
            ::mount("tmpfs", listDir.c_str(), "tmpfs", 0, "size=64k") != 0)
            ::_exit(77);
        installation.writeFile(listPath, large);
        list->load();
        const bool logged = refresh(server->url("/disk.lst"), hash, false) ==
                            validated + "Error! Failed to backup existing server list file.\n";
        const bool kept = readFile(listPath) == large && list->version == "9.0";
        ::_exit(logged && kept && !fs::exists(backup) && !fs::exists(temporary) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace for a small disk";
    EXPECT_EQ(status, 0) << "the refresh gave true, logged otherwise, or changed a file";
}
