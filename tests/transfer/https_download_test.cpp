// The package download against a real HTTPS server on 127.0.0.1: what lands
// on disk, the log lines, the run state and what the server was sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

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

    // Downloads `url` with `state` as an earlier step left it; gives the
    // lines logged, after the first one, which names the URL's parent.
    Lines download(const std::string& url, int state, bool expected) {
        context->state = state;
        context->logStream->flush();
        const std::size_t logged = readFile(installation.logPath()).size();
        EXPECT_EQ(context->downloadPackage(url), expected);
        // Whichever way a download ends, nothing of the transfer stays open.
        EXPECT_EQ(context->curl, nullptr);
        EXPECT_EQ(context->downloadFile, nullptr);
        context->logStream->flush();
        std::istringstream log(readFile(installation.logPath()).substr(logged));
        Lines lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        const std::string first = "Establishing connection to " + url.substr(0, url.rfind('/'));
        if (!lines.empty() && lines[0] == first + " ...") lines[0] = "<connecting>";
        return lines;
    }

    // What the shared server received for this test's paths; never a User-Agent.
    static Lines requestsUnder(const std::string& prefix) {
        Lines requests;
        for (const ReceivedRequest& request : server->requests()) {
            if (request.path.rfind(prefix, 0) != 0) continue;
            requests.push_back(request.method + " " + request.path);
            for (const auto& header : request.headers) EXPECT_NE(header.first, "User-Agent");
        }
        return requests;
    }

    static TestServer* server;
    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string package = installation.installDir + "/Pelorin.msi";
};

TestServer* HttpsDownload::server = nullptr;

// A package in place of a longer one of an earlier run, a redirect's page not
// followed; an earlier failure does not mark the lines.
TEST_F(HttpsDownload, WhatTheServerAnswersIsStored) {
    const std::string body = "MSI\r\n\x1a\0package"s;
    server->putFile("/stored/Pelorin.msi", body);
    server->setRule("/stored/moved.msi",
                    R"({"redirect": ")" + server->url("/stored/Pelorin.msi") + "\"}");
    for (const char* path : {"/stored/moved.msi", "/stored/Pelorin.msi"}) {
        installation.writeFile(package, std::string(50000, 'o'));
        EXPECT_EQ(download(server->url(path), LogLevel::Error, true),
                  (Lines{"<connecting>",
                         "Connection successfully established to " + server->url("/stored"),
                         "Downloading data from server..."}));
        EXPECT_EQ(context->state, LogLevel::Info);
    }
    EXPECT_EQ(readFile(package), body);
    EXPECT_EQ(requestsUnder("/stored/"),
              (Lines{"GET /stored/moved.msi", "GET /stored/Pelorin.msi"}));
}

// A transfer that fails is an error; what arrived stays. A package that
// cannot be written, or a run already failed, sends nothing.
TEST_F(HttpsDownload, FailuresEndTheTransfer) {
    server->putFile("/failed/cut.msi", std::string(200000, 'p'));
    server->setRule("/failed/cut.msi", R"({"truncate": 70000})");
    EXPECT_EQ(
        download(server->url("/failed/cut.msi"), LogLevel::Info, false),
        (Lines{"<connecting>", "Error! transfer closed with 130000 bytes remaining to read"}));
    EXPECT_EQ(context->state, LogLevel::Error);
    EXPECT_EQ(readFile(package), std::string(70000, 'p'));
    // A few bytes leave the stream's buffer only at the end, and fail then.
    server->putFile("/failed/small.msi", "package");
    fs::remove(package);
    fs::create_symlink("/dev/full", package);
    EXPECT_EQ(download(server->url("/failed/small.msi"), LogLevel::Info, false),
              (Lines{"<connecting>", "Error! Failed writing received data to disk/application"}));
    EXPECT_EQ(context->state, LogLevel::Error);
    fs::remove(package);
    EXPECT_EQ(download(server->url("/failed/small.msi"), LogLevel::Fatal, false), Lines{});
    EXPECT_FALSE(fs::exists(package));
    // Root writes anywhere: a directory in the package's place stands for a
    // place the user may not write to.
    fs::create_directory(package);
    EXPECT_EQ(download(server->url("/failed/small.msi"), LogLevel::Info, false),
              (Lines{"Fatal Error! Couldn't create file " + package,
                     "Tip: Insure to run Pelorin Silent Updater with administrator privileges."}));
    EXPECT_EQ(context->state, LogLevel::Fatal);
    EXPECT_EQ(requestsUnder("/failed/"), (Lines{"GET /failed/cut.msi", "GET /failed/small.msi"}));
}
