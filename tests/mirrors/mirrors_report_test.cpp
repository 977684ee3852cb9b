// pelorin-mirrors run as a release engineer runs it, against real HTTPS
// servers on 127.0.0.1: what it reports for each kind of mirror, and its
// exit status.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "publish/manifest_writer.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace {

const std::string packageBytes(3000, 'p');
const char* const packageHash = "41597C225D1935DA9FC9E6A103C54B98B700F7A5";  // of those bytes
const char* const otherHash = "58A5C4F0D4F4DE2C5BD2E4D6C6C25E4E5AFD2D4A";

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A port on 127.0.0.1 that nothing listens on: taken from the system, then let go.
int deadPort() {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(sock);
    return ntohs(address.sin_port);
}

// One good server holds every mirror but two: the foreign certificate needs a
// server of its own, and the dead one none at all.
class MirrorsReport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new TestServer();
        foreignServer = new TestServer(ServerCert::ForeignCa);
        const std::string manifest =
            manifestWith("1.1", server->url("/Pelorin-1.1.msi"), packageHash);
        server->putFile("/Pelorin-1.1.msi", packageBytes);
        server->putFile("/Win/UpdateWin.xml", manifest);
        server->putFile("/copy/Win/UpdateWin.xml", manifest);
        server->putFile("/Pelorin-1.0.msi", "the last release");
        server->putFile("/stale/Win/UpdateWin.xml",
                        manifestWith("1.0", server->url("/Pelorin-1.0.msi"), otherHash));
        server->putFile("/otherhash/Win/UpdateWin.xml",
                        manifestWith("1.1", server->url("/Pelorin-1.1.msi"), otherHash));
        server->putFile("/gone/Win/UpdateWin.xml",
                        manifestWith("1.1", server->url("/gone.msi"), packageHash));
        server->putFile("/stall/Win/UpdateWin.xml", manifest);
        server->setRule("/stall/Win/UpdateWin.xml", R"({"stall": true})");
        foreignServer->putFile("/Win/UpdateWin.xml", manifest);
        server->putFile("/current.lst",
                        "Version = 1.1\n" + server->url("/") + "\n" + server->url("/copy") + "\n");
    }
    static void TearDownTestSuite() {
        delete foreignServer;
        delete server;
    }

    static std::string manifestWith(const std::string& version, const std::string& packageUrl,
                                    const std::string& hash) {
        return manifestText({version, packageUrl, hash, "1.1", server->url("/list.lst"),
                             "0A1B2C3D4E5F60718293A4B5C6D7E8F901234567"});
    }

    std::string writeList(const std::vector<std::string>& entries,
                          const std::string& name = "ServerList.lst") {
        std::string text = "# mirrors\nVersion = 1.1\n";
        for (const std::string& entry : entries) text += "  " + entry + "\n";
        const std::string path = dir.path() + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    ToolRun run(const std::string& arguments) {
        const std::string errPath = dir.path() + "/stderr";
        const std::string command =
            std::string(PELORIN_MIRRORS_EXE) + " " + arguments + " 2>" + errPath;
        ToolRun result;
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
            result.out.append(buffer, n);
        }
        const int status = ::pclose(pipe.release());
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = readFile(errPath);
        return result;
    }

    ToolRun check(const std::string& list, const std::string& more = "") {
        return run("--list " + list + " --main " + server->url("/Win/UpdateWin.xml") +
                   " --ca-bundle " + TestServer::caBundlePath() + " " + more);
    }

    // The JSON line of the mirror whose manifest URL is `url`.
    static std::string lineOf(const std::string& json, const std::string& url) {
        std::istringstream lines(json);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("  {\"manifest\": \"" + url + "\"", 0) == 0) return line;
        }
        return "no line for " + url;
    }

    static TestServer* server;
    static TestServer* foreignServer;
    TempDir dir;
};

TestServer* MirrorsReport::server = nullptr;
TestServer* MirrorsReport::foreignServer = nullptr;

}  // namespace

TEST_F(MirrorsReport, NamesEachKindOfMirrorWorstFirstAndExitsOne) {
    const std::string dead = "https://localhost:" + std::to_string(deadPort());
    const ToolRun result =
        check(writeList({server->url("/"), server->url("/stale"), server->url("/otherhash/"), dead,
                         server->url("/stall"), foreignServer->url("/"),
                         server->url("/gone/Win/UpdateWin.xml")}),
              "--json --timeout 2");
    const struct {
        std::string manifestUrl;
        const char* mirrorClass;
        std::string reason;  // a part of it
    } expected[] = {
        {server->url("/Win/UpdateWin.xml"), "current", "\"reason\": \"\""},
        {server->url("/stale/Win/UpdateWin.xml"), "stale", "offers 1.0, the main server 1.1"},
        {server->url("/otherhash/Win/UpdateWin.xml"), "different",
         std::string("Hash \\\"") + otherHash},
        {dead + "/Win/UpdateWin.xml", "broken", "Couldn't connect to server"},
        {server->url("/stall/Win/UpdateWin.xml"), "broken", "Operation too slow"},
        {foreignServer->url("/Win/UpdateWin.xml"), "broken", "SSL certificate problem"},
        {server->url("/gone/Win/UpdateWin.xml"), "broken", "package: HTTP 404"},
    };
    for (const auto& mirror : expected) {
        const std::string line = lineOf(result.out, mirror.manifestUrl);
        EXPECT_NE(line.find(std::string("\"class\": \"") + mirror.mirrorClass + "\""),
                  std::string::npos)
            << line;
        EXPECT_NE(line.find(mirror.reason), std::string::npos) << line;
    }
    EXPECT_LT(result.out.find("\"broken\""), result.out.find("\"different\""));
    EXPECT_LT(result.out.find("\"different\""), result.out.find("\"stale\""));
    EXPECT_NE(result.out.find("\"counts\": {\"current\": 1, \"stale\": 1, \"different\": 1, "
                              "\"broken\": 4}"),
              std::string::npos);
    EXPECT_EQ(result.status, 1) << result.err;
}

TEST_F(MirrorsReport, EveryMirrorCurrentExitsZero) {
    const ToolRun result = check(server->url("/current.lst"));
    EXPECT_NE(result.out.find("\ncurrent "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("2 mirrors: 2 current, 0 stale, 0 different, 0 broken"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST_F(MirrorsReport, FullCheckVerifiesEachPackageAgainstItsManifest) {
    const ToolRun result =
        check(writeList({server->url("/"), server->url("/otherhash/")}), "--full --json");
    const std::string current = lineOf(result.out, server->url("/Win/UpdateWin.xml"));
    EXPECT_NE(current.find(std::string("\"sha1\": \"") + packageHash), std::string::npos);
    EXPECT_NE(current.find("\"bytes\": 3000"), std::string::npos) << current;
    EXPECT_NE(current.find("\"bytesPerSecond\": "), std::string::npos) << current;
    const std::string other = lineOf(result.out, server->url("/otherhash/Win/UpdateWin.xml"));
    EXPECT_NE(other.find(std::string("package SHA-1 ") + packageHash +
                         ", the manifest's Hash \\\"" + otherHash),
              std::string::npos)
        << other;
    EXPECT_EQ(result.status, 1) << result.err;
}

TEST_F(MirrorsReport, BadUsageOrInputExitsTwo) {
    const std::string ca = " --ca-bundle " + TestServer::caBundlePath();
    const std::string mainUrl = " --main " + server->url("/Win/UpdateWin.xml");
    const std::string list = writeList({server->url("/")});
    const struct {
        std::string arguments;
        const char* message;
    } cases[] = {
        {"", "--list is missing"},
        {"--list " + list + mainUrl + ca + " --bogus", "unknown option \"--bogus\""},
        {"--list " + list + mainUrl + ca + " --parallel 0", "--parallel takes a number"},
        {"--list " + list + mainUrl + " --ca-bundle " + dir.path(), "is no file"},
        {"--list " + dir.path() + "/none.lst" + mainUrl + ca, "cannot read the server list"},
        {"--list " + server->url("/none.lst") + mainUrl + ca, "none.lst: HTTP 404"},
        {"--list " + writeList({}, "Empty.lst") + mainUrl + ca, "names no mirror"},
        {"--list " + list + " --main " + server->url("/none.xml") + ca,
         "is not one the updater accepts (HTTP 404)"},
    };
    for (const auto& c : cases) {
        const ToolRun result = run(c.arguments);
        EXPECT_EQ(result.status, 2) << c.arguments;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}
