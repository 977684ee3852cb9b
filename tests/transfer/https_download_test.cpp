// The package download against a real HTTPS server on 127.0.0.1: what lands
// on disk, the log lines, the run state and what the server was sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <tuple>

#include "app/updater_context.h"
#include "support/installation.h"
#include "support/test_server.h"

namespace fs = std::filesystem;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

class HttpsDownload : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new TestServer(); }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override {
        installation.layOutComplete();
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        context->caBundlePath = TestServer::caBundlePath();
    }
    // The next test's folders go to the system's folder, not into this one's.
    void TearDown() override { ::unsetenv("TMPDIR"); }

    // Downloads `path` of the server, with `state` as an earlier step left it;
    // gives the lines logged, the server's address written "https://S".
    Lines download(const std::string& path, int state, bool expected) {
        context->state = state;
        context->logStream->flush();
        const std::size_t start = readFile(installation.logPath()).size();
        EXPECT_EQ(context->downloadPackage(server->url(path)), expected);
        // Whichever way a download ends, nothing of the transfer stays open.
        EXPECT_EQ(context->curl, nullptr);
        EXPECT_EQ(context->downloadFile, nullptr);
        context->logStream->flush();
        std::istringstream log(readFile(installation.logPath()).substr(start));
        Lines lines;
        for (std::string line; std::getline(log, line);)
            lines.push_back(
                std::regex_replace(line, std::regex("https://localhost:\\d+"), "https://S"));
        return lines;
    }

    static TestServer* server;
    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string package = installation.installDir + "/Pelorin.msi";
};

TestServer* HttpsDownload::server = nullptr;

// Each download replaces a longer package of an earlier run; an earlier failure
// does not mark the lines of the next. What arrived before a failure stays.
TEST_F(HttpsDownload, WhatArrivesIsThePackage) {
    const std::string body = "MSI\r\n\x1a\0package"s;
    server->putFile("/a/Pelorin.msi", body);
    server->setRule("/a/moved.msi", R"({"redirect": "https://elsewhere.example/Pelorin.msi"})");
    server->putFile("/b/cut.msi", std::string(200000, 'p'));
    server->setRule("/b/cut.msi", R"({"truncate": 70000})");
    server->putFile("/b/full.msi", "package");
    const Lines ok = {"Establishing connection to https://S/a ...",
                      "Connection successfully established to https://S/a",
                      "Downloading data from server..."};
    // Path, whether it succeeds, the second line when it fails, what is stored.
    const std::tuple<const char*, bool, const char*, std::string> cases[] = {
        {"/a/moved.msi", true, "",  // a redirect's page, not followed
         "<!DOCTYPE html>\n<html><head><title>302 Found</title></head>\n<body><h1>Found</h1>\n"
         "<p>Moved to <a "
         "href=\"https://elsewhere.example/Pelorin.msi\">here</a>.</p>\n</body></html>\n"},
        {"/a/Pelorin.msi", true, "", body},
        {"/b/cut.msi", false, "Error! transfer closed with 130000 bytes remaining to read",
         std::string(70000, 'p')},
        // The few bytes leave the stream's buffer at the end, and fail then.
        {"/b/full.msi", false, "Error! Failed writing received data to disk/application", ""},
    };
    for (const auto& [path, succeeds, error, stored] : cases) {
        SCOPED_TRACE(path);
        const bool fullDisk = stored.empty();
        fullDisk ? fs::create_symlink("/dev/full", package)
                 : installation.writeFile(package, std::string(50000, 'o'));
        const Lines lines = download(path, LogLevel::Error, succeeds);
        EXPECT_EQ(lines,
                  succeeds ? ok : (Lines{"Establishing connection to https://S/b ...", error}));
        EXPECT_EQ(context->state, succeeds ? LogLevel::Info : LogLevel::Error);
        EXPECT_EQ(fullDisk ? "" : readFile(package), stored);  // /dev/full has no end
        fs::remove(package);
    }
    Lines requests;  // none with a User-Agent
    for (const ReceivedRequest& request : server->requests()) {
        requests.push_back(request.method + " " + request.path);
        for (const auto& header : request.headers) EXPECT_NE(header.first, "User-Agent");
    }
    EXPECT_EQ(requests, (Lines{"GET /a/moved.msi", "GET /a/Pelorin.msi", "GET /b/cut.msi",
                               "GET /b/full.msi"}));
}
