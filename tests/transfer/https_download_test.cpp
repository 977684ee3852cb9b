// The package download from a real HTTPS server: the file, log lines, run state, requests.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "core/updater_context.h"
#include "support/installation.h"
#include "support/test_server.h"
#include "transfer/package_download.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

// Each replaces a package of an earlier run; what arrived before a failure stays beside it.
TEST(HttpsDownload, WhatArrivesIsThePackage) {
    TestServer server;  // before TMPDIR points into the installation
    Installation installation;
    installation.layOutComplete();
    installation.useInThisProcess();
    UpdaterContext context;
    context.caBundlePath = TestServer::caBundlePath();
    const std::string package = installation.installDir + "/Pelorin.msi";
    const std::string body = "MSI\r\n\x1a\0package"s;
    server.putFile("/a/Pelorin.msi", body);
    server.setRule("/a/moved.msi", R"({"redirect": "https://elsewhere.example/Pelorin.msi"})");
    server.putFile("/b/cut.msi", std::string(200000, 'p'));
    server.setRule("/b/cut.msi", R"({"truncate": 70000})");
    server.putFile("/b/full.msi", "package");
    const std::string ok =
        "Establishing connection to https://S/a ...\nConnection successfully established to "
        "https://S/a\nDownloading data from server...\n";
    const std::string failed = "Establishing connection to https://S/b ...\nError! ";
    // Path, the lines logged (the server's address as https://S), what is stored.
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"/a/moved.msi", ok,  // a redirect's page, not followed
         "<!DOCTYPE html>\n<html><head><title>302 Found</title></head>\n<body><h1>Found</h1>\n"
         "<p>Moved to <a href=\"https://elsewhere.example/Pelorin.msi\">here</a>.</p>\n"
         "</body></html>\n"},
        {"/a/Pelorin.msi", ok, body},
        // The resumed transfer gets no byte more: the run gives up.
        {"/b/cut.msi",
         failed + "transfer closed with 130000 bytes remaining to read\nResuming download at "
                  "70,000 of 200,000 bytes.\nError! transfer closed with 130000 bytes remaining "
                  "to read\n",
         std::string(70000, 'p')},
        // The few bytes leave the stream's buffer at the end, and fail then.
        {"/b/full.msi", failed + "Failed writing received data to disk/application\n", ""},
    };
    for (const auto& [path, lines, stored] : cases) {
        SCOPED_TRACE(path);
        const bool fullDisk = stored.empty(), succeeds = lines == ok;
        fullDisk ? fs::create_symlink("/dev/full", package + ".partial")
                 : installation.writeFile(package, std::string(50000, 'o'));
        context.state = LogLevel::Error;
        context.logStream->flush();
        const std::size_t logged = readFile(installation.logPath()).size();
        EXPECT_EQ(downloadPackage(context, server.url(path), std::string(40, 'A')), succeeds);
        context.logStream->flush();
        EXPECT_EQ(std::regex_replace(readFile(installation.logPath()).substr(logged),
                                     std::regex("https://localhost:\\d+"), "https://S"),
                  lines);
        EXPECT_EQ(context.state, succeeds ? LogLevel::Info : LogLevel::Error);
        // /dev/full has no end
        EXPECT_EQ(fullDisk ? "" : readFile(succeeds ? package : package + ".partial"), stored);
        EXPECT_EQ(fs::exists(package), succeeds);
        fs::remove(package);
        fs::remove(package + ".partial");
    }
    std::string requests;  // none with a User-Agent
    for (const ReceivedRequest& request : server.requests()) {
        requests += request.method + " " + request.path;
        for (const auto& header : request.headers) {
            EXPECT_NE(header.first, "User-Agent");
            if (header.first == "Range") requests += " " + header.second;
        }
        requests += "\n";
    }
    EXPECT_EQ(requests,
              "GET /a/moved.msi\nGET /a/Pelorin.msi\nGET /b/cut.msi\nGET /b/cut.msi "
              "bytes=70000-\nGET /b/full.msi\n");
    ::unsetenv("TMPDIR");  // the next test's folders go to the system's folder
}
