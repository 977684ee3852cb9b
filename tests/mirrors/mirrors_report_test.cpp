// pelorin-mirrors run as a release engineer runs it, against one HTTPS server
// on 127.0.0.1: what it reports for each kind of mirror, and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "publish/manifest_writer.h"
#include "support/installation.h"
#include "support/test_server.h"

namespace {

const std::string packageHash = "41597C225D1935DA9FC9E6A103C54B98B700F7A5";  // of 3000 'p'
const std::string otherHash = "58A5C4F0D4F4DE2C5BD2E4D6C6C25E4E5AFD2D4A";

// Each mirror's manifest under its own path, served for the whole test process.
const TestServer& server() {
    static TestServer* const server = [] {
        auto* made = new TestServer();
        const std::string manifests[][4] = {
            // where, offered version, package, its hash
            {"/", "1.1", "/1.1.msi", packageHash},
            {"/copy/", "1.1", "/1.1.msi", packageHash},
            {"/stall/", "1.1", "/1.1.msi", packageHash},
            {"/stale/", "1.0", "/1.0.msi", "4E840326A98C84EF713647AA1F26298F8ECB3BD5"},
            {"/moved/", "1.1", "/copy/1.1.msi?a=1&b=<2>", packageHash},
            {"/otherhash/", "1.1", "/1.1.msi", otherHash},
            {"/gone/", "1.1", "/gone.msi", packageHash}};
        for (const auto& m : manifests) {
            made->putFile(m[0] + "Win/UpdateWin.xml",
                          manifestText({m[1], made->url(m[2]), m[3], "1.1", "/l.lst", "0A"}));
        }
        made->setRule("/stall/Win/UpdateWin.xml", R"({"stall": true})");
        made->putFile("/1.1.msi", std::string(3000, 'p'));
        made->putFile("/copy/1.1.msi", std::string(3000, 'p'));
        made->putFile("/1.0.msi", "the last release");
        made->putFile("/current.lst",
                      "Version = 1.1\n" + made->url("/") + "\n" + made->url("/copy"));
        return made;
    }();
    return *server;
}

// The exit status, standard output and standard error.
std::array<std::string, 3> runMirrors(const std::string& arguments) {
    const TempDir dir;
    const std::string out = dir.path() + "/out", err = dir.path() + "/err";
    const int status =
        std::system((PELORIN_MIRRORS_EXE " " + arguments + " >" + out + " 2>" + err).c_str());
    return {std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1), readFile(out),
            readFile(err)};
}

}  // namespace

TEST(MirrorsReport, FullCheckNamesEachKindOfMirrorWorstFirstAndExitsOne) {
    const std::string mirrors[][3] = {
        // manifest, class, a part of the reason
        {server().url("/Win/UpdateWin.xml"), "current", ""},
        {server().url("/stale/Win/UpdateWin.xml"), "stale", "offers 1.0, the main server 1.1"},
        {server().url("/moved/Win/UpdateWin.xml"), "different",
         "Codebase \\\"" + server().url("/copy/1.1.msi?a=1&b=<2>\\\"")},
        {server().url("/otherhash/Win/UpdateWin.xml"), "broken",
         "package SHA-1 " + packageHash + ", the manifest's Hash \\\"" + otherHash},
        {"https://localhost:1/Win/UpdateWin.xml", "broken", "Couldn't connect to server"},
        {server().url("/stall/Win/UpdateWin.xml"), "broken", "Operation too slow"},
        {server().url("/gone/Win/UpdateWin.xml"), "broken", "package: HTTP 404"}};
    const TempDir dir;
    std::ofstream list(dir.path() + "/ServerList.lst", std::ios::binary);
    list << "# mirrors\r\nVersion = 1.1\r\n";
    for (const auto& mirror : mirrors) list << "  " << mirror[0] << "\r\n";
    list.close();
    const auto [status, out, err] =
        runMirrors("--list " + dir.path() + "/ServerList.lst --main " + mirrors[0][0] +
                   " --ca-bundle " + TestServer::caBundlePath() + " --full --json --timeout 1");
    for (const auto& [manifest, mirrorClass, reason] : mirrors) {
        const std::size_t start = out.find("{\"manifest\": \"" + manifest + "\", \"class\": \"" +
                                           mirrorClass + "\", \"reason\": \"");
        EXPECT_LT(out.find(reason, start), out.find('\n', start)) << manifest << "\n" << out;
    }
    EXPECT_NE(out.find("\"problem\": null, \"bytes\": 3000, "), std::string::npos);
    EXPECT_LT(out.find("\"broken\""), out.find("\"different\""));
    EXPECT_LT(out.find("\"different\""), out.find("\"stale\""));
    EXPECT_NE(
        out.find("\"counts\": {\"current\": 1, \"stale\": 1, \"different\": 1, \"broken\": 4}"),
        std::string::npos);
    EXPECT_EQ(status, "1") << err;
}

TEST(MirrorsReport, ExitsZeroWhenEveryMirrorIsCurrentAndTwoOnBadUsageOrInput) {
    const TempDir dir;
    std::ofstream(dir.path() + "/Empty.lst") << "Version = 1.1\n";
    const std::string ca = " --ca-bundle " + TestServer::caBundlePath();
    const std::string foreignCa =
        std::filesystem::path(TestServer::caBundlePath()).replace_filename("foreign-ca.pem");
    const std::string main = " --main " + server().url("/Win/UpdateWin.xml");
    const std::string list = "--list " + server().url("/current.lst");
    const std::string cases[][3] = {
        // arguments, exit status, part of standard output (0) or standard error (2)
        {list + main + ca, "0", "2 mirrors: 2 current, 0 stale, 0 different, 0 broken"},
        {"", "2", "--list is missing"},
        {list + main + ca + " --bogus", "2", "unknown option \"--bogus\""},
        {list + main + ca + " --parallel 0", "2", "--parallel takes a number"},
        {list + main + " --ca-bundle " + dir.path(), "2", "is no file"},
        {list + main + " --ca-bundle " + foreignCa, "2", "SSL certificate problem"},
        {"--list " + dir.path() + "/none.lst" + main + ca, "2", "cannot read the server list"},
        {"--list " + server().url("/none.lst") + main + ca, "2", "none.lst: HTTP 404"},
        {"--list " + dir.path() + "/Empty.lst" + main + ca, "2", "names no mirror"},
        {list + " --main " + server().url("/none.xml") + ca, "2",
         "is not one the updater accepts"}};
    for (const auto& c : cases) {
        const auto [status, out, err] = runMirrors(c[0]);
        EXPECT_EQ(status, c[1]) << c[0];
        EXPECT_NE((status == "0" ? out : err).find(c[2]), std::string::npos) << c[0] << out << err;
        EXPECT_EQ(out.empty(), status == "2") << c[0];
    }
}
