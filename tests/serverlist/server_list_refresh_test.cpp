// Replacing the list file with the one a manifest announces, against a real
// HTTPS server on 127.0.0.1: the log lines, the files left behind, and the
// old list put back when the new one cannot be written.
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

namespace {

using Lines = std::vector<std::string>;
using Urls = std::vector<std::string>;
namespace fs = std::filesystem;

const char* const oldList = "Version = 1.0\nhttps://old.example\n";
const char* const newList = "Version = 2.0\r\nhttps://new.example\r\n";
const char* const listUrlPath = "/lists/ServerList.lst";

const Lines successLines = {"Server list file downloaded successfully.",
                            "Validating server list file...",
                            "Server list file validated successfully."};

Lines withLast(Lines lines, const std::string& last) {
    lines.push_back(last);
    return lines;
}

std::string lowerCased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool writeFileAt(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    return static_cast<bool>(file.flush());
}

// A list of about 40 KiB: a 64 KiB disk cannot hold it twice.
std::string largeList() {
    std::string content = "Version = 9.0\n";
    for (int i = 0; content.size() < 40 * 1024; ++i) {
        content += "https://server" + std::to_string(i) + ".example/\n";
    }
    return content;
}

}  // namespace

class ServerListRefresh : public ListFixture {
protected:
    void SetUp() override {
        ListFixture::SetUp();
        // As the manifest fetch leaves it.
        handle = curl_easy_init();
        ASSERT_NE(handle, nullptr);
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, context->curlErrorBuffer);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(handle, CURLOPT_CAINFO, server.caBundlePath().c_str());
    }

    void TearDown() override {
        if (handle) curl_easy_cleanup(handle);
    }

    std::unique_ptr<ServerList> listWith(const std::string& content) {
        auto list = loadList(content);
        list->caBundlePath = server.caBundlePath();
        return list;
    }

    // Serves `content` as the new list; gives its hash text.
    std::string serve(const std::string& content) {
        return hashFileToHex(server.putFile(listUrlPath, content));
    }

    // Runs `body` in a child process; its result becomes the exit status.
    // The log is shared: the child's lines land in the same file.
    int inChild(const std::function<int()>& body) {
        context->logStream->flush();
        const pid_t child = ::fork();
        if (child == 0) {
            const int result = body();
            context->logStream->flush();
            ::_exit(result);
        }
        int status = 0;
        if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    std::string temporaryPath() const { return listDir + "/~tmpList.lst"; }
    std::string backupPath() const { return listPath + ".bak"; }

    TestServer server;
    CURL* handle = nullptr;
};

TEST_F(ServerListRefresh, NewListIsCopiedByteForByteAndLoaded) {
    auto list = listWith(oldList);
    const std::string hash = serve(newList);
    context->state = LogLevel::Error;
    markLog();
    EXPECT_TRUE(list->refresh(handle, server.url(listUrlPath), hash));
    EXPECT_EQ(linesSinceMark(),
              withLast(successLines, "Server list file successfully updated to version 2.0."));
    EXPECT_EQ(readFile(listPath), newList);
    EXPECT_EQ(readFile(backupPath()), oldList);
    EXPECT_FALSE(fs::exists(temporaryPath()));
    EXPECT_EQ(list->version, "2.0");
    EXPECT_EQ(list->urls, Urls{"https://new.example/Win/UpdateWin.xml"});
    EXPECT_EQ(context->state, LogLevel::Error);
    const std::vector<ReceivedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, listUrlPath);
}

TEST_F(ServerListRefresh, ListWithoutVersionLineIsLoadedAsVersionZero) {
    auto list = listWith(oldList);
    const std::string hash = serve("https://a.example\n");
    markLog();
    EXPECT_TRUE(list->refresh(handle, server.url(listUrlPath), hash));
    EXPECT_EQ(linesSinceMark(),
              withLast(successLines, "Server list file successfully updated to version 0.0."));
    EXPECT_EQ(readFile(listPath), "https://a.example\n");
    EXPECT_EQ(list->version, "0.0");
}

TEST_F(ServerListRefresh, LowerCaseHashFailsValidationAndChangesNothing) {
    auto list = listWith(oldList);
    const std::string hash = lowerCased(serve(newList));
    markLog();
    EXPECT_FALSE(list->refresh(handle, server.url(listUrlPath), hash));
    EXPECT_EQ(linesSinceMark(),
              (Lines{"Server list file downloaded successfully.", "Validating server list file...",
                     "Error! Server list file validation failed."}));
    EXPECT_EQ(readFile(listPath), oldList);
    EXPECT_FALSE(fs::exists(backupPath()));
    EXPECT_FALSE(fs::exists(temporaryPath()));
    EXPECT_EQ(list->version, "1.0");
}

TEST_F(ServerListRefresh, EmptyListUrlIsAFailedDownload) {
    auto list = listWith(oldList);
    markLog();
    EXPECT_FALSE(list->refresh(handle, "", serve(newList)));
    EXPECT_EQ(linesSinceMark(), Lines{"Error! Failed to download server list file."});
    EXPECT_FALSE(fs::exists(temporaryPath()));
    EXPECT_EQ(readFile(listPath), oldList);
}

TEST_F(ServerListRefresh, UnreachableServerEndsWithoutALine) {
    auto list = listWith(oldList);
    const std::string hash = serve(newList);
    markLog();
    // Nothing listens on port 1 of the loopback: the connection is refused.
    EXPECT_FALSE(list->refresh(handle, "https://127.0.0.1:1/lists/ServerList.lst", hash));
    EXPECT_EQ(linesSinceMark(), Lines{});
    EXPECT_FALSE(fs::exists(temporaryPath()));
    EXPECT_EQ(readFile(listPath), oldList);
    EXPECT_EQ(list->version, "1.0");
}

TEST_F(ServerListRefresh, UntrustedCertificateEndsWithoutALine) {
    TestServer foreign(ServerCert::ForeignCa);
    auto list = listWith(oldList);
    const std::string hash = hashFileToHex(foreign.putFile(listUrlPath, newList));
    markLog();
    EXPECT_FALSE(list->refresh(handle, foreign.url(listUrlPath), hash));
    EXPECT_EQ(linesSinceMark(), Lines{});
    EXPECT_FALSE(fs::exists(temporaryPath()));
    EXPECT_EQ(readFile(listPath), oldList);
}

TEST_F(ServerListRefresh, StaleTemporaryFileAndOldBackupAreReplaced) {
    auto list = listWith(oldList);
    writeBytes(temporaryPath(), "stale download, longer than the new list will be");
    writeBytes(backupPath(), "backup of an earlier refresh");
    EXPECT_TRUE(list->refresh(handle, server.url(listUrlPath), serve(newList)));
    EXPECT_EQ(readFile(listPath), newList);
    EXPECT_EQ(readFile(backupPath()), oldList);
    EXPECT_FALSE(fs::exists(temporaryPath()));
}

TEST_F(ServerListRefresh, WithoutAListFileTheNewOneIsWrittenAndNoBackupMade) {
    auto list = listWith(oldList);
    fs::remove(listPath);
    writeBytes(backupPath(), "backup of an earlier refresh");
    markLog();
    EXPECT_TRUE(list->refresh(handle, server.url(listUrlPath), serve(newList)));
    EXPECT_EQ(linesSinceMark(),
              withLast(successLines, "Server list file successfully updated to version 2.0."));
    EXPECT_EQ(readFile(listPath), newList);
    EXPECT_EQ(readFile(backupPath()), "backup of an earlier refresh");
}

// The download is written unreadable (umask), and with an empty hash the
// unreadable file passes, as its hash text is empty too; it must not take
// the list's place. Root reads anything, so the child gives up root's rights
// first.
TEST_F(ServerListRefresh, UnreadableDownloadNeverReplacesTheList) {
    auto list = listWith(oldList);
    serve(newList);
    const std::string bundle = installation.root.path() + "/ca.pem";
    fs::copy_file(server.caBundlePath(), bundle);
    ASSERT_EQ(::chmod(bundle.c_str(), 0644), 0);
    list->caBundlePath = bundle;
    const bool asRoot = ::geteuid() == 0;
    constexpr uid_t nobody = 65534;
    if (asRoot) {
        ASSERT_EQ(::chmod(installation.root.path().c_str(), 0711), 0);
        ASSERT_EQ(::chown(listDir.c_str(), nobody, nobody), 0);
    }
    markLog();
    const int status = inChild([&] {
        if (asRoot && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) return 77;
        ::umask(0466);
        const bool refreshed = list->refresh(handle, server.url(listUrlPath), "");
        return !refreshed && list->version == "1.0" && list->urls.size() == 1 ? 0 : 1;
    });
    if (status == 77) GTEST_SKIP() << "cannot give up root's rights";
    EXPECT_EQ(status, 0) << "refresh gave true, or the list in memory changed";
    EXPECT_EQ(linesSinceMark(),
              withLast(successLines, "Error! Failed to read downloaded server list file."));
    EXPECT_EQ(readFile(listPath), oldList);
    EXPECT_FALSE(fs::exists(backupPath()));
    EXPECT_TRUE(fs::exists(temporaryPath()));
}

// A disk that holds the download but not the backup of the large old list:
// the backup stops short and the list stays as it was. The child mounts a
// 64 KiB disk over the list's folder in a mount namespace of its own, and
// leaves a copy of the list file outside it for the checks.
TEST_F(ServerListRefresh, ListStaysWhenTheDiskCannotHoldItsBackup) {
    const std::string oldList = largeList();
    const std::string hash = serve(newList);
    const std::string listAfter = installation.root.path() + "/list-after-refresh";
    const std::string url = server.url(listUrlPath);
    markLog();
    const int status = inChild([&] {
        if (!enterOwnMountNamespace()) return 77;
        if (::mount("tmpfs", listDir.c_str(), "tmpfs", 0, "size=64k") != 0) return 77;
        if (!writeFileAt(listPath, oldList)) return 2;
        ServerList list(listPath, *context);
        list.caBundlePath = server.caBundlePath();
        const bool refreshed = list.refresh(handle, url, hash);
        if (!writeFileAt(listAfter, readFile(listPath))) return 2;
        const bool unchanged = list.version == "9.0";
        const bool noLeftovers = !fs::exists(backupPath()) && !fs::exists(temporaryPath());
        return !refreshed && unchanged && noLeftovers ? 0 : 1;
    });
    if (status == 77) GTEST_SKIP() << "no mount namespace for a small disk";
    EXPECT_EQ(status, 0) << "refresh gave true, a file was left, or the list in memory changed";
    EXPECT_EQ(linesSinceMark(),
              withLast(successLines, "Error! Failed to backup existing server list file."));
    EXPECT_EQ(readFile(listAfter), oldList);
}
