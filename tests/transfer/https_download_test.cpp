// The package download against a real HTTPS server on 127.0.0.1: what lands
// on disk, what the log says, what the run state becomes and what the server
// was sent.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/updater_context.h"
#include "support/installation.h"
#include "support/test_server.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const char* const kTipLine =
    "Tip: Insure to run Pelorin Silent Updater with administrator privileges.";

// Reproducible bytes that are not text, so that a stray conversion shows.
std::string pseudoRandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    std::uint32_t seed = 12345;
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// A loopback port that is bound but never listens, so connecting is refused,
// and no other process can take it while the test runs.
class RefusingPort {
public:
    RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int fd_;
    int port_ = 0;
};

// Puts back what useInThisProcess() changed, so that the next test in the same
// process does not make its directories inside this one's removed folder.
class SavedEnvironment {
public:
    SavedEnvironment() : tmpDir_(get("TMPDIR")), registryRoot_(get("PELORIN_REGISTRY_ROOT")) {}
    ~SavedEnvironment() {
        put("TMPDIR", tmpDir_);
        put("PELORIN_REGISTRY_ROOT", registryRoot_);
    }

private:
    static std::unique_ptr<std::string> get(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::make_unique<std::string>(value) : nullptr;
    }
    static void put(const char* name, const std::unique_ptr<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::unique_ptr<std::string> tmpDir_, registryRoot_;
};

}  // namespace

class HttpsDownload : public ::testing::Test {
protected:
    explicit HttpsDownload(ServerCert cert = ServerCert::Good) : server(cert) {
        installation.layOutComplete();
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        context->caBundlePath = server.caBundlePath();
        context->logStream->flush();
        logStart = fs::file_size(installation.logPath());
        packagePath = installation.installDir + "/Pelorin.msi";
        serverRoot = "https://localhost:" + std::to_string(server.port());
    }

    // The log lines written since the context was built.
    std::vector<std::string> newLines() const {
        context->logStream->flush();
        std::istringstream log(readFile(installation.logPath()).substr(logStart));
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

    std::vector<std::string> successLines(const std::string& urlParent) const {
        return {"Establishing connection to " + urlParent + " ...",
                "Connection successfully established to " + urlParent,
                "Downloading data from server..."};
    }

    // The failure line must carry libcurl's own message, whatever its wording.
    std::vector<std::string> failureLines(const std::string& urlParent) const {
        EXPECT_NE(context->curlErrorBuffer[0], '\0') << "libcurl left no message";
        return {"Establishing connection to " + urlParent + " ...",
                "Error! " + std::string(context->curlErrorBuffer)};
    }

    // Whichever way a download ends, nothing of the transfer stays open.
    void expectTransferReleased() const {
        EXPECT_EQ(context->curl, nullptr);
        EXPECT_EQ(context->downloadFile, nullptr);
    }

    SavedEnvironment savedEnvironment;
    TestServer server;  // before the installation sets TMPDIR, to stay outside its folder
    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    std::uintmax_t logStart = 0;
    std::string packagePath;
    std::string serverRoot;  // what the log names for a file at the top of the server
};

TEST_F(HttpsDownload, StoresBodyByteForByteAndReportsSuccessAfterIt) {
    const std::string body = "MSI\r\n\x1a\0package"s;
    server.putFile("/packages/Pelorin.msi", body);

    EXPECT_TRUE(context->downloadPackage(server.url("/packages/Pelorin.msi")));

    EXPECT_EQ(readFile(packagePath), body);
    EXPECT_EQ(newLines(), successLines(server.url("/packages")));
    EXPECT_EQ(context->state, LogLevel::Info);
    expectTransferReleased();
    const std::vector<ReceivedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/packages/Pelorin.msi");
    EXPECT_FALSE(requests[0].hasHeader("User-Agent")) << requests[0].header("User-Agent");
}

// The level of a failed earlier transfer must not carry over into the lines
// of the next one.
TEST_F(HttpsDownload, EarlierFailedTransferDoesNotMarkNextDownloadAsError) {
    server.putFile("/Pelorin.msi", "package");
    context->state = LogLevel::Error;

    EXPECT_TRUE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(newLines(), successLines(serverRoot));
    EXPECT_EQ(context->state, LogLevel::Info);
}

TEST_F(HttpsDownload, StoresLargeBinaryPackageByteForByte) {
    const std::string body = pseudoRandomBytes(20 * 1024 * 1024 + 7);
    server.putFile("/Pelorin.msi", body);

    EXPECT_TRUE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_TRUE(readFile(packagePath) == body)
        << "stored " << fs::file_size(packagePath) << " bytes of " << body.size();
    EXPECT_EQ(newLines(), successLines(serverRoot));
}

TEST_F(HttpsDownload, StoresNotFoundPageAsPackageAndReportsSuccess) {
    server.setRule("/Pelorin.msi", R"({"status": 404})");

    EXPECT_TRUE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_NE(readFile(packagePath).find("was not found on this server"), std::string::npos);
    EXPECT_EQ(newLines(), successLines(serverRoot));
    EXPECT_EQ(context->state, LogLevel::Info);
}

TEST_F(HttpsDownload, StoresRedirectBodyWithoutFollowingIt) {
    server.putFile("/elsewhere.msi", "the real package");
    server.setRule("/Pelorin.msi", R"({"redirect": ")" + server.url("/elsewhere.msi") + R"("})");

    EXPECT_TRUE(context->downloadPackage(server.url("/Pelorin.msi")));

    const std::string stored = readFile(packagePath);
    EXPECT_NE(stored.find("Moved to"), std::string::npos) << stored;
    EXPECT_EQ(stored.find("the real package"), std::string::npos);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(newLines(), successLines(serverRoot));
}

TEST_F(HttpsDownload, TruncatedBodyIsReportedAsFailedTransferAndLeftOnDisk) {
    const std::string body = pseudoRandomBytes(200000);
    server.putFile("/Pelorin.msi", body);
    server.setRule("/Pelorin.msi", R"({"truncate": 70000})");

    EXPECT_FALSE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(newLines(), failureLines(serverRoot));
    EXPECT_EQ(context->state, LogLevel::Error);
    EXPECT_TRUE(readFile(packagePath) == body.substr(0, 70000))
        << "left " << fs::file_size(packagePath) << " bytes";
    expectTransferReleased();
}

// The stream buffers the first bytes; the full device refuses them when the
// buffer is written out, and that short write must end the transfer.
TEST_F(HttpsDownload, FullDiskEndsTransferWithWriteError) {
    server.putFile("/Pelorin.msi", pseudoRandomBytes(1024 * 1024));
    fs::create_symlink("/dev/full", packagePath);

    EXPECT_FALSE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(newLines(), failureLines(serverRoot));
    EXPECT_EQ(context->state, LogLevel::Error);
    expectTransferReleased();
}

TEST_F(HttpsDownload, ServerThatStopsSendingFailsAfterLowSpeedTime) {
    context->transferTimeouts.lowSpeedSeconds = 2;
    server.setRule("/Pelorin.msi", R"({"stall": true})");

    EXPECT_FALSE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(newLines(), failureLines(serverRoot));
    EXPECT_NE(std::string(context->curlErrorBuffer).find("too slow"), std::string::npos);
    EXPECT_EQ(context->state, LogLevel::Error);
    expectTransferReleased();
}

class HttpsDownloadForeignCa : public HttpsDownload {
protected:
    HttpsDownloadForeignCa() : HttpsDownload(ServerCert::ForeignCa) {}
};

TEST_F(HttpsDownloadForeignCa, CertificateFromCaOutsideBundleIsRefused) {
    server.putFile("/Pelorin.msi", "package");

    EXPECT_FALSE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(newLines(), failureLines(serverRoot));
    EXPECT_EQ(context->state, LogLevel::Error);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(readFile(packagePath), "");
    expectTransferReleased();
}

class HttpsDownloadWrongHost : public HttpsDownload {
protected:
    HttpsDownloadWrongHost() : HttpsDownload(ServerCert::WrongHost) {}
};

TEST_F(HttpsDownloadWrongHost, CertificateForAnotherHostIsRefused) {
    server.putFile("/Pelorin.msi", "package");

    EXPECT_FALSE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(newLines(), failureLines(serverRoot));
    EXPECT_EQ(context->state, LogLevel::Error);
    EXPECT_TRUE(server.requests().empty());
    expectTransferReleased();
}

TEST_F(HttpsDownload, UnreachablePortIsReportedAsFailedTransfer) {
    RefusingPort port;
    const std::string parent = "https://" + port.hostAndPort() + "/packages";

    EXPECT_FALSE(context->downloadPackage(parent + "/Pelorin.msi"));

    EXPECT_EQ(newLines(), failureLines(parent));
    EXPECT_EQ(context->state, LogLevel::Error);
    expectTransferReleased();
}

// A URL without any '/' has no parent to cut off: the line names all of it.
TEST_F(HttpsDownload, UrlWithoutSlashIsNamedWhole) {
    RefusingPort port;

    EXPECT_FALSE(context->downloadPackage(port.hostAndPort()));

    EXPECT_EQ(newLines(), failureLines(port.hostAndPort()));
}

TEST_F(HttpsDownload, MissingInstallDirIsFatalAndAdvisesAdministratorRights) {
    server.putFile("/Pelorin.msi", "package");
    fs::remove_all(installation.installDir);

    EXPECT_FALSE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(newLines(), (std::vector<std::string>{
                              "Fatal Error! Couldn't create file " + packagePath, kTipLine}));
    EXPECT_EQ(context->state, LogLevel::Fatal);
    EXPECT_TRUE(server.requests().empty());
    expectTransferReleased();
}

// Root may write anywhere, so a directory in the file's place stands for a
// destination the user may not write to.
TEST_F(HttpsDownload, DirectoryInPlaceOfPackageIsFatal) {
    server.putFile("/Pelorin.msi", "package");
    fs::create_directory(packagePath);

    EXPECT_FALSE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(newLines(), (std::vector<std::string>{
                              "Fatal Error! Couldn't create file " + packagePath, kTipLine}));
    EXPECT_EQ(context->state, LogLevel::Fatal);
    EXPECT_TRUE(fs::is_directory(packagePath));
    expectTransferReleased();
}

TEST_F(HttpsDownload, RunAlreadyFailedDownloadsNothingAndLogsNothing) {
    server.putFile("/Pelorin.msi", "package");
    context->state = LogLevel::Fatal;

    EXPECT_FALSE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_TRUE(newLines().empty());
    EXPECT_EQ(context->state, LogLevel::Fatal);
    EXPECT_FALSE(fs::exists(packagePath));
    EXPECT_TRUE(server.requests().empty());
    expectTransferReleased();
}

TEST_F(HttpsDownload, LongerPackageFromEarlierRunIsReplacedWhole) {
    installation.writeFile(packagePath, std::string(50000, 'o'));
    server.putFile("/Pelorin.msi", "short new package");

    EXPECT_TRUE(context->downloadPackage(server.url("/Pelorin.msi")));

    EXPECT_EQ(readFile(packagePath), "short new package");
}
