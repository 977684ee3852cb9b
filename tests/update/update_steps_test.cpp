#include <gtest/gtest.h>

#include <filesystem>

#include "core/updater_context.h"
#include "install/temporary_files.h"
#include "publish/release_signing.h"
#include "support/installation.h"
#include "support/test_server.h"
#include "update/manifest.h"

namespace fs = std::filesystem;

struct UpdateSteps : ::testing::Test {
    void SetUp() override {
        installation.layOutComplete();
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
    }
    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string manifest = installation.dataDir + "/serverManifest.xml";
    const std::string package = installation.installDir + "/Pelorin.msi";
};

TEST_F(UpdateSteps, ManifestDecision) {
    const std::string id = "com.halvornesys.pelorin", found = "An updated Pelorin version ";
    const std::string upToDate = "Pelorin is up-to-date, no update found on server.";
    const std::string corrupt = "Fatal Error! Server manifest file is corrupt.";
    const struct {
        std::string appId, predicate, installed, line;
    } cases[] = {
        {id, "Pelorin.Version &lt; 2.9", "2.10", found + "2.9"},  // decimal fractions
        {id, "Pelorin.Version &lt; 1.2", "1.2.3", upToDate},
        {id, "v &lt; 1.0", "1.0", upToDate},
        {id, "v&lt;0.5", "", found + "0.5"},
        {id, "v > 1.0", "1.5", found + "1.0"},
        {id, "v > 1.0", "0.5", upToDate},
        {id, "v >", "0.1", found + ""},
        {id, "a > 9 &lt; 3.0 > 1", "2", found + "3.0 > 1"},   // the last '<' decides
        {id, "<![CDATA[v <   3.0  ]]>", "1", found + "3.0"},  // only spaces are trimmed
        {"com.halvornesys.Pelorin", "v &lt; 2.0", "1.0", corrupt},
        {"", "v &lt; 2.0", "1.0", corrupt},
        {id, "version 2.0", "1.0", corrupt},
        {id, "", "1.0", corrupt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.predicate + " over " + c.installed);
        context->state = LogLevel::Info;
        context->updateFound = false;
        installation.writeFile(manifest, "<Update><AppId>" + c.appId + "</AppId><Predicate>" +
                                             c.predicate + "</Predicate></Update>");
        installation.writeFile(installation.applicationDir + "/UpdatePelorin.xml",
                               "<Update><Version>" + c.installed + "</Version></Update>");
        const bool offers = c.line.rfind(found, 0) == 0;
        EXPECT_EQ(evaluateManifest(*context), offers);
        EXPECT_EQ(context->updateFound, offers);
        context->logStream->flush();
        EXPECT_EQ(Installation::bodyLines(readFile(installation.logPath())).back(),
                  offers ? c.line + " found on server." : c.line);
    }
}

// Only after an update was found do the package copies go (the scenarios show that case).
TEST_F(UpdateSteps, CleanUpKeepsThePackagesWithoutAnUpdate) {
    const std::string staged = installation.updateDir + "/Pelorin.msi";
    for (const std::string& file : {manifest, package, staged}) installation.writeFile(file, "x");
    cleanTemporaryFiles(*context, false);
    EXPECT_FALSE(fs::exists(manifest));
    EXPECT_TRUE(fs::exists(package) && fs::exists(staged));
}

// With a release key, what was verified is what is used: a manifest written over the one on
// the disk after its signature was checked (anyone who can write the data folder) decides
// nothing the run reads.
TEST_F(UpdateSteps, SignedManifestFieldsComeFromTheVerifiedBytes) {
    TestServer server;
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    const auto manifestWith = [&](char hashDigit) {
        return "<Update><AppId>com.halvornesys.pelorin</AppId><Predicate>v &lt; 1.1</Predicate>"
               "<Codebase>" +
               server.url("/Pelorin.msi") + "</Codebase><Hash>" + std::string(40, hashDigit) +
               "</Hash><Sha256>" + std::string(64, 'a') + "</Sha256></Update>\n";
    };
    server.putFile("/Win/UpdateWin.xml", manifestWith('A'));
    std::string signature;
    const std::string keys = PELORIN_SOURCE_DIR "/tests/e2e/release_keys/";
    ASSERT_EQ(signRelease(keys + "release.pem", manifestWith('A'), 5, std::time(nullptr) + 86400,
                          signature),
              "");
    server.putFile("/Win/UpdateWin.xml.sig", signature);
    context->releasePublicKey = readFile(keys + "release.pem.pub").substr(0, 64);
    ASSERT_TRUE(fetchManifest(*context, server.url("/Win/UpdateWin.xml"), true));
    ASSERT_TRUE(context->manifestRefusal.empty()) << context->manifestRefusal;
    installation.writeFile(manifest, manifestWith('B'));
    EXPECT_EQ(readManifestValue(*context, "Hash"), std::string(40, 'A'));
    EXPECT_TRUE(evaluateManifest(*context));
    EXPECT_EQ(readFile(installation.dataDir + "/ReleaseSerial.txt").substr(0, 2), "5 ");
}
