// Resuming a cut download: the record read strictly, and what a server's answer to a resume
// makes of the kept bytes (log lines, the file, the ranges asked).
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "core/updater_context.h"
#include "support/installation.h"
#include "support/test_server.h"
#include "transfer/package_download.h"
#include "transfer/partial_record.h"

namespace fs = std::filesystem;

TEST(PartialRecord, OnlyTheExactFormatWithValidFieldsIsRead) {
    const PartialRecord written{"https://h/p.msi", std::string(40, 'A'), 4294967296, "\"v1\"", ""};
    const std::string text = partialRecordText(written);
    PartialRecord read;
    ASSERT_TRUE(parsePartialRecord(text, read));
    EXPECT_EQ(partialRecordText(read), text);
    const std::pair<std::string, std::string> broken[] = {
        {"End\n", "End"},
        {"End\n", "End\nx"},
        {"Size 4294967296", "Size 4294967297"},
        {"Size 4294967296", "Size 0"},
        {"Size 4294967296", "Size 04294967296"},
        {"Hash A", "Hash a"},
        {"Hash AA", "Hash A"},
        {"Url https", "Url \thttps"},
        {"\nUrl", "\r\nUrl"},
        {"Url https://h/p.msi\n", ""},
        {"ETag", "Etag"},
        {"1\n", "2\n"},
    };
    for (const auto& [part, replacement] : broken) {
        std::string changed = text;
        changed.replace(changed.find(part), part.size(), replacement);
        EXPECT_FALSE(parsePartialRecord(changed, read)) << changed;
    }
}

// 100,000 bytes of a 300,000-byte package are kept from an earlier run, with the server's
// validator "v1"; the server's rule for the next attempt decides what becomes of them.
TEST(ResumableDownload, KeptBytesAreResumedOnlyForTheSamePackageInTheSameVersion) {
    TestServer server;  // before TMPDIR points into the installation
    Installation installation;
    installation.layOutComplete();
    installation.useInThisProcess();
    UpdaterContext context;
    context.caBundlePath = TestServer::caBundlePath();
    std::string whole;
    for (int i = 0; i < 300000; ++i) whole += static_cast<char>('a' + i % 26);
    server.putFile("/p.msi", whole);
    const std::string hash(40, 'C'), package = installation.installDir + "/Pelorin.msi";
    const std::string ok =
        "Connection successfully established to https://S\nDownloading data "
        "from server...\n";
    const std::string resumed = "Resuming download at 100,000 of 300,000 bytes.\n";
    const auto cut = [](int left) {
        return "Error! transfer closed with " + std::to_string(left) + " bytes remaining to read\n";
    };
    // The rule, the hash the manifest names, the lines after the first, the ranges asked.
    const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
        {R"({"etag": "\"v1\""})", hash, resumed + ok, "bytes=100000-"},
        {R"({"etag": "\"v2\""})", hash, ok, "bytes=100000-"},  // If-Range: the whole body
        {R"({"etag": "\"v2\"", "if_range": false})", hash, ok, "bytes=100000- -"},
        {R"({"etag": "\"v1\""})", std::string(40, 'D'), ok, "-"},  // another package
        {R"({"etag": "\"v1\"", "ranges": false})", hash, ok, "bytes=100000-"},
        {R"({"etag": "\"v1\"", "drop_after": 40000})", hash,
         resumed + cut(160000) + "Resuming download at 140,000 of 300,000 bytes.\n" + cut(120000) +
             "Resuming download at 180,000 of 300,000 bytes.\n" + cut(80000) +
             "Resuming download at 220,000 of 300,000 bytes.\n" + cut(40000),
         "bytes=100000- bytes=140000- bytes=180000- bytes=220000-"},
        {R"({"status": 503})", hash, "Error! The requested URL returned error: 503\n",
         "bytes=100000-"},
    };
    std::size_t requestsBefore = 0;
    for (const auto& [rule, offered, lines, ranges] : cases) {
        SCOPED_TRACE(rule);
        installation.writeFile(package + ".partial", whole.substr(0, 100000));
        installation.writeFile(
            package + ".partial.rec",
            partialRecordText({server.url("/p.msi"), hash, 300000, "\"v1\"", ""}));
        server.setRule("/p.msi", rule);
        context.logStream->flush();
        const std::size_t logged = readFile(installation.logPath()).size();
        const bool succeeds = lines.find("Error!") == std::string::npos;
        EXPECT_EQ(downloadHashedFile(context, server.url("/p.msi"), offered, package), succeeds);
        context.logStream->flush();
        EXPECT_EQ(std::regex_replace(readFile(installation.logPath()).substr(logged),
                                     std::regex("https://localhost:\\d+"), "https://S"),
                  "Establishing connection to https://S ...\n" + lines);
        std::string asked;
        const std::vector<ReceivedRequest> requests = server.requests();
        for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
            std::string range = "-";
            for (const auto& [name, value] : requests[i].headers)
                if (name == "Range") range = value;
            asked += (asked.empty() ? "" : " ") + range;
        }
        requestsBefore = requests.size();
        EXPECT_EQ(asked, ranges);
        const bool gaveUp = lines.find("220,000") != std::string::npos;
        const std::string stored = readFile(succeeds ? package : package + ".partial");
        EXPECT_TRUE(stored == (succeeds ? whole : whole.substr(0, gaveUp ? 260000 : 100000)))
            << stored.size() << " bytes";
        EXPECT_EQ(fs::exists(package + ".partial.rec"), !succeeds);
        fs::remove(package);
    }
    ::unsetenv("TMPDIR");  // the next test's folders go to the system's folder
}
