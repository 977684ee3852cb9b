// Replacing the list file with the one a manifest announces, against a real
// HTTPS server on 127.0.0.1: the log lines and the files left behind.
#include <curl/curl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "serverlist/list_fixture.h"
#include "support/mount_namespace.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"

namespace fs = std::filesystem;

namespace {

const std::string oldList = "Version = 1.0\nhttps://old.example\n";
const Lines downloaded = {"Server list file downloaded successfully.",
                          "Validating server list file...",
                          "Server list file validated successfully."};

Lines with(Lines lines, const std::string& last) {
    lines.push_back(last);
    return lines;
}

}  // namespace

class ServerListRefresh : public ListFixture {
protected:
    static void SetUpTestSuite() { server = new TestServer(); }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override {
        ListFixture::SetUp();
        installation.writeFile(listPath, oldList);
        list = std::make_unique<ServerList>(listPath, *context);
        list->caBundlePath = TestServer::caBundlePath();
    }
    void TearDown() override {
        curl_easy_cleanup(handle);
        ListFixture::TearDown();
    }

    Lines refresh(const std::string& url, const std::string& hash, bool expected) {
        context->logStream->flush();
        const std::size_t start = readFile(installation.logPath()).size();
        EXPECT_EQ(list->refresh(handle, url, hash), expected);
        return logLinesFrom(start);
    }

    // Runs `body` in a child process, after the log's buffer is flushed.
    int inChild(const std::function<int()>& body) {
        context->logStream->flush();
        const pid_t child = ::fork();
        if (child == 0) {
            const int result = body();
            context->logStream->flush();
            ::_exit(result);
        }
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                          : -1;
    }

    static TestServer* server;
    CURL* handle = curl_easy_init();  // as the manifest's fetch leaves it
    std::unique_ptr<ServerList> list;
    const std::string backup = listPath + ".bak";
    const std::string temporary = listDir + "/~tmpList.lst";
};

TestServer* ServerListRefresh::server = nullptr;

// The download, byte for byte, takes the list's place and is loaded; the old
// list becomes the backup when there is one. The run's state stays.
TEST_F(ServerListRefresh, NewListIsWrittenAndLoaded) {
    const struct {
        bool listThere;
        const char* text;
        const char* version;
        const char* backup;
    } cases[] = {
        {true, "Version = 2.0\r\nhttps://new.example\r\n", "2.0", oldList.c_str()},
        {false, "https://a.example\n", "0.0", "backup of an earlier refresh"},
    };
    context->state = LogLevel::Error;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        installation.writeFile(temporary, "stale download, longer than the new list");
        installation.writeFile(backup, "backup of an earlier refresh");
        if (!c.listThere) fs::remove(listPath);
        const std::string hash = hashFileToHex(server->putFile("/new/ServerList.lst", c.text));
        EXPECT_EQ(refresh(server->url("/new/ServerList.lst"), hash, true),
                  with(downloaded, "Server list file successfully updated to version " +
                                       std::string(c.version) + "."));
        EXPECT_EQ(readFile(listPath), c.text);
        EXPECT_EQ(readFile(backup), c.backup);
        EXPECT_FALSE(fs::exists(temporary));
        EXPECT_EQ(list->urls.size(), 1u);
        EXPECT_EQ(context->state, LogLevel::Error);
    }
}

// The list stays, with no backup and no download left. No server there, or
// one not trusted, ends without a line.
TEST_F(ServerListRefresh, FailedRefreshChangesNothing) {
    const std::string url = server->url("/failed/ServerList.lst");
    server->putFile("/failed/ServerList.lst", "Version = 2.0\nhttps://new.example\n");
    const struct {
        std::string url;
        std::string caBundle;
        Lines lines;
    } cases[] = {
        {url,
         TestServer::caBundlePath(),
         {downloaded[0], downloaded[1], "Error! Server list file validation failed."}},
        {"", TestServer::caBundlePath(), {"Error! Failed to download server list file."}},
        {"https://127.0.0.1:1/ServerList.lst", TestServer::caBundlePath(), {}},  // refused
        {url, TestServer::foreignCaPath(), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        list->caBundlePath = c.caBundle;
        // The file's hash in lower case: servers publish it in upper case.
        EXPECT_EQ(refresh(c.url, "3845657643386df8c6e87ea7f7e52e60a04c5fe7", false), c.lines);
        EXPECT_EQ(readFile(listPath), oldList);
        EXPECT_EQ(list->version, "1.0");
        EXPECT_FALSE(fs::exists(backup));
        EXPECT_FALSE(fs::exists(temporary));
    }
}

// A disk that holds the download but not the backup of a large old list: the
// list stays as it was. The child mounts a 64 KiB disk over the list's folder.
TEST_F(ServerListRefresh, ListStaysWhenTheDiskCannotHoldItsBackup) {
    std::string large = "Version = 9.0\n";
    while (large.size() < 40 * 1024)
        large += "https://s" + std::to_string(large.size()) + ".example\n";
    const std::string url = server->url("/disk/ServerList.lst");
    const std::string hash =
        hashFileToHex(server->putFile("/disk/ServerList.lst", "Version = 2.0\n"));
    const std::string listAfter = installation.root.path() + "/list-after-refresh";
    const std::size_t start = readFile(installation.logPath()).size();
    const int status = inChild([&] {
        if (!enterOwnMountNamespace() ||
            ::mount("tmpfs", listDir.c_str(), "tmpfs", 0, "size=64k") != 0)
            return 77;
        installation.writeFile(listPath, large);
        ServerList onSmallDisk(listPath, *context);
        onSmallDisk.caBundlePath = TestServer::caBundlePath();
        const bool refreshed = onSmallDisk.refresh(handle, url, hash);
        installation.writeFile(listAfter, readFile(listPath));
        const bool leftovers = fs::exists(backup) || fs::exists(temporary);
        return refreshed || leftovers || onSmallDisk.version != "9.0" ? 1 : 0;
    });
    if (status == 77) GTEST_SKIP() << "no mount namespace for a small disk";
    EXPECT_EQ(status, 0) << "refresh gave true, a file was left, or the list in memory changed";
    EXPECT_EQ(logLinesFrom(start),
              with(downloaded, "Error! Failed to backup existing server list file."));
    EXPECT_EQ(readFile(listAfter), large);
}

// The download is written unreadable (umask): with an empty hash it passes, an
// unreadable file's hash text being empty too, yet must not take the list's
// place. Root reads anything, so the child gives up root's rights.
TEST_F(ServerListRefresh, UnreadableDownloadNeverReplacesTheList) {
    const std::string url = server->url("/unreadable/ServerList.lst");
    server->putFile("/unreadable/ServerList.lst", "Version = 2.0\n");
    list->caBundlePath = installation.root.path() + "/ca.pem";  // where the child may read it
    fs::copy_file(TestServer::caBundlePath(), list->caBundlePath);
    ::chmod(list->caBundlePath.c_str(), 0644);
    const bool asRoot = ::geteuid() == 0;
    constexpr uid_t nobody = 65534;
    if (asRoot) {
        ASSERT_EQ(::chmod(installation.root.path().c_str(), 0711), 0);
        ASSERT_EQ(::chown(listDir.c_str(), nobody, nobody), 0);
    }
    const std::size_t start = readFile(installation.logPath()).size();
    const int status = inChild([&] {
        if (asRoot && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) return 77;
        ::umask(0466);
        return list->refresh(handle, url, "") || list->version != "1.0" ? 1 : 0;
    });
    if (status == 77) GTEST_SKIP() << "cannot give up root's rights";
    EXPECT_EQ(status, 0) << "refresh gave true, or the list in memory changed";
    EXPECT_EQ(logLinesFrom(start),
              with(downloaded, "Error! Failed to read downloaded server list file."));
    EXPECT_EQ(readFile(listPath), oldList);
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_TRUE(fs::exists(temporary));
}
