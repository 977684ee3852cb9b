// pelorin-mirrors run as a release engineer runs it, against one HTTPS server
// on 127.0.0.1: what it reports for each kind of mirror, and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <ctime>
#include <memory>

#include "publish/manifest_writer.h"
#include "publish/release_signing.h"
#include "support/installation.h"
#include "support/test_server.h"

namespace {

const std::string packageHash = "41597C225D1935DA9FC9E6A103C54B98B700F7A5";  // of 3000 'p'
const std::string otherHash = "58A5C4F0D4F4DE2C5BD2E4D6C6C25E4E5AFD2D4A";
const std::string mirrors[][6] = {
    // where, offered version, package, its hash; the mirror's class, part of the reason
    {"/", "1.1", "/1.1.msi", packageHash, "current", ""},
    {"/copy/", "1.1", "/1.1.msi", packageHash, "current", ""},
    {"/stale/", "1.0", "/1.0.msi", "4E840326A98C84EF713647AA1F26298F8ECB3BD5", "stale",
     "offers 1.0, the main server 1.1"},
    {"/moved/", "1.1", "/copy/1.1.msi?a=1&b=<2>", packageHash, "different",
     "/copy/1.1.msi?a=1&b=<2>\\\", the main server's"},
    {"/otherhash/", "1.1", "/1.1.msi", otherHash, "broken",
     "package SHA-1 " + packageHash + ", the manifest's Hash \\\"" + otherHash},
    {"/gone/", "1.1", "/gone.msi", packageHash, "broken", "package: HTTP 404"},
    {"/stall/", "1.1", "/1.1.msi", packageHash, "broken", "Operation too slow"}};

// Every mirror's manifest under its own path; started once for the test process.
const TestServer& server() {
    static const std::unique_ptr<TestServer> server = [] {
        auto s = std::make_unique<TestServer>();
        for (const auto& m : mirrors)
            s->putFile(m[0] + "Win/UpdateWin.xml",
                       manifestText({m[1], s->url(m[2]), m[3], "1.1", "/l.lst", "0A"}));
        s->setRule("/stall/Win/UpdateWin.xml", R"({"stall": true})");
        s->putFile("/1.1.msi", std::string(3000, 'p'));
        s->putFile("/copy/1.1.msi", std::string(3000, 'p'));
        s->putFile("/1.0.msi", "the last release");
        s->putFile("/current.lst", "Version = 1.1\n" + s->url("/") + "\n" + s->url("/copy") + "\n");
        return s;
    }();
    return *server;
}

std::array<std::string, 3> runMirrors(const std::string& arguments) {  // status, out, err
    const TempDir dir;
    const std::string out = dir.path() + "/out", err = dir.path() + "/err";
    const int status =
        std::system((PELORIN_MIRRORS_EXE " " + arguments + " >" + out + " 2>" + err).c_str());
    return {std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1), readFile(out),
            readFile(err)};
}

}  // namespace

TEST(MirrorsReport, FullCheckNamesEachKindOfMirrorWorstFirstAndExitsOne) {
    std::string list = "# mirrors\r\nVersion = 1.1\r\n  https://localhost:1/\r\n";  // no one there
    for (const auto& mirror : mirrors) list += "  " + server().url(mirror[0]) + "\r\n";
    server().putFile("/full.lst", list);
    const auto [status, out, err] = runMirrors(
        "--list " + server().url("/full.lst") + " --main " + server().url("/Win/UpdateWin.xml") +
        " --ca-bundle " + TestServer::caBundlePath() + " --full --json --timeout 1");
    for (const auto& m : mirrors) {
        const std::size_t start =
            out.find("{\"manifest\": \"" + server().url(m[0] + "Win/UpdateWin.xml") +
                     "\", \"class\": \"" + m[4] + "\", \"reason\": \"");
        EXPECT_LT(out.find(m[5], start), out.find('\n', start)) << m[0] << "\n" << out;
    }
    for (const char* part :
         {"\"class\": \"broken\", \"reason\": \"Failed to connect to localhost port 1",
          "\"problem\": null, \"bytes\": 3000, ",
          "\"counts\": {\"current\": 2, \"stale\": 1, \"different\": 1, \"broken\": 4}"})
        EXPECT_NE(out.find(part), std::string::npos) << part;
    EXPECT_LT(out.find("\"broken\""), out.find("\"different\""));
    EXPECT_LT(out.find("\"different\""), out.find("\"stale\""));
    EXPECT_EQ(status, "1") << err;
}

TEST(MirrorsReport, ExitsZeroWhenEveryMirrorIsCurrentAndTwoOnBadUsageOrInput) {
    const std::string dir = server().rootDir(),
                      empty = server().putFile("/E.lst", "Version = 1.1\n");
    const std::string ca = " --ca-bundle " + TestServer::caBundlePath();
    const std::string main = " --main " + server().url("/Win/UpdateWin.xml");
    const std::string list = "--list " + server().url("/current.lst");
    const std::string cases[][3] = {
        // arguments, exit status, part of standard output (0) or standard error (2)
        {list + main + ca, "0", "2 mirrors: 2 current, 0 stale, 0 different, 0 broken"},
        {"", "2", "--list is missing"},
        {list + main + ca + " --bogus", "2", "unknown option \"--bogus\""},
        {list + main + ca + " --parallel 0", "2", "--parallel takes a number"},
        {list + main + " --ca-bundle " + dir, "2", "is no file"},
        {list + main + " --ca-bundle " + TestServer::foreignCaPath(), "2",
         "SSL certificate problem"},
        {"--list " + dir + "/none.lst" + main + ca, "2", "cannot read the server list"},
        {"--list " + server().url("/none.lst") + main + ca, "2", "none.lst: HTTP 404"},
        {"--list " + empty + main + ca, "2", "names no mirror"},
        {list + " --main " + server().url("/none.xml") + ca, "2",
         "is not one the updater accepts (HTTP 404)"}};
    for (const auto& c : cases) {
        const auto [status, out, err] = runMirrors(c[0]);
        EXPECT_EQ(status, c[1]) << c[0];
        EXPECT_NE((status == "0" ? out : err).find(c[2]), std::string::npos) << c[0] << out << err;
        EXPECT_EQ(out.empty(), status == "2") << c[0];
    }
}

TEST(MirrorsReport, WithTheReleaseKeyJudgesEachMirrorsSignature) {
    const std::string keys = PELORIN_SOURCE_DIR "/tests/e2e/release_keys/";
    const std::string manifest =
        manifestText({"1.1", server().url("/1.1.msi"), packageHash, "1.1", "/l.lst", "0A"});
    const std::string signers[][5] = {
        // where, key, serial, days to expiry; the mirror's class and reason
        {"/s/", "release", "5", "9", ""},
        {"/s/same/", "release", "5", "9", "current"},
        {"/s/old/", "release", "4", "9",
         "stale\", \"reason\": \"release serial 4, the main server's 5"},
        {"/s/other/", "other", "5", "9", "broken\", \"reason\": \"signature does not verify"},
        {"/s/expired/", "release", "6", "-1", "broken\", \"reason\": \"signature expired"},
        {"/s/none/", "", "", "", "broken\", \"reason\": \"signature missing"}};
    std::string list = "Version = 1.1\n", signature;
    for (const auto& s : signers) {
        server().putFile(s[0] + "Win/UpdateWin.xml", manifest);
        if (!s[1].empty())
            signRelease(keys + s[1] + ".pem", manifest, std::stoull(s[2]),
                        std::time(nullptr) + 86400 * std::stoll(s[3]), signature),
                server().putFile(s[0] + "Win/UpdateWin.xml.sig", signature);
        if (s[0] != "/s/") list += server().url(s[0]) + "\n";
    }
    server().putFile("/s.lst", list);
    const auto [status, out, err] = runMirrors("--list " + server().url("/s.lst") + " --main " +
                                               server().url("/s/Win/UpdateWin.xml") +
                                               " --ca-bundle " + TestServer::caBundlePath() +
                                               " --json --release-key " + keys + "release.pem.pub");
    for (const auto& s : signers) {
        if (s[0] == "/s/") continue;
        EXPECT_NE(out.find("\"class\": \"" + s[4]), std::string::npos) << out;
    }
    EXPECT_EQ(status, "1") << err;
    const auto refused =
        runMirrors("--list " + server().url("/s.lst") + " --main " +
                   server().url("/s/none/Win/UpdateWin.xml") + " --ca-bundle " +
                   TestServer::caBundlePath() + " --release-key " + keys + "other.pem.pub");
    EXPECT_EQ(refused[0], "2");
    EXPECT_NE(refused[2].find("its signature is missing"), std::string::npos) << refused[2];
}
