// The manifest decision, the package check and the clean-up, on an in-process
// context over a complete installation.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/updater_context.h"
#include "support/installation.h"
#include "transfer/file_hash.h"

namespace {

class UpdateSteps : public ::testing::Test {
protected:
    void SetUp() override {
        installation.layOutComplete();
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        ASSERT_EQ(context->state, LogLevel::Info);
    }
    std::vector<std::string> lines() {
        context->logStream->flush();
        return Installation::bodyLines(readFile(installation.logPath()));
    }
    std::string lastLine() { return lines().back(); }

    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string manifest = installation.dataDir + "/serverManifest.xml";
    const std::string package = installation.installDir + "/Pelorin.msi";
};

const std::string corrupt = "Fatal Error! Server manifest file is corrupt.";

}  // namespace

TEST_F(UpdateSteps, ManifestDecision) {
    const struct {
        std::string predicate, installed, appId;
        bool offered;
        std::string line;
    } cases[] = {
        // Versions compare as decimal fractions: 2.9 > 2.10.
        {"Pelorin.Version &lt; 2.9", "2.10", "com.halvornesys.pelorin", true,
         "An updated Pelorin version 2.9 found on server."},
        {"Pelorin.Version &lt; 1.2", "1.2.3", "com.halvornesys.pelorin", false,
         "Pelorin is up-to-date, no update found on server."},
        {"v &lt; 1.0", "1.0", "com.halvornesys.pelorin", false,
         "Pelorin is up-to-date, no update found on server."},
        {"v&lt;0.5", "", "com.halvornesys.pelorin", true,
         "An updated Pelorin version 0.5 found on server."},
        {"v > 1.0", "1.5", "com.halvornesys.pelorin", true,
         "An updated Pelorin version 1.0 found on server."},
        {"v > 1.0", "0.5", "com.halvornesys.pelorin", false,
         "Pelorin is up-to-date, no update found on server."},
        {"v >", "0.1", "com.halvornesys.pelorin", true,
         "An updated Pelorin version  found on server."},
        // The last '<' decides; only spaces are trimmed.
        {"a > 9 &lt; 3.0 > 1", "2", "com.halvornesys.pelorin", true,
         "An updated Pelorin version 3.0 > 1 found on server."},
        {"<![CDATA[v <   3.0  ]]>", "1", "com.halvornesys.pelorin", true,
         "An updated Pelorin version 3.0 found on server."},
        {"v &lt; 2.0", "1.0", "com.halvornesys.Pelorin", false, corrupt},
        {"v &lt; 2.0", "1.0", "", false, corrupt},
        {"version 2.0", "1.0", "com.halvornesys.pelorin", false, corrupt},
        {"", "1.0", "com.halvornesys.pelorin", false, corrupt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.predicate + " over " + c.installed);
        context->state = LogLevel::Info;
        context->updateFound = false;
        installation.writeFile(manifest, "<Update><AppId>" + c.appId + "</AppId><Predicate>" +
                                             c.predicate + "</Predicate></Update>");
        installation.writeFile(installation.applicationDir + "/UpdatePelorin.xml",
                               "<Update><Version>" + c.installed + "</Version></Update>");
        EXPECT_EQ(context->evaluateManifest(), c.offered);
        EXPECT_EQ(context->updateFound, c.offered);
        EXPECT_EQ(lastLine(), c.line);
    }
}

// Only the exact upper-case hash of an existing package validates.
TEST_F(UpdateSteps, PackageValidation) {
    installation.writeFile(package, "package bytes");
    const std::string hash = hashFileToHex(package);
    ASSERT_EQ(hash.size(), 40u);
    for (const std::string& wrong : {hash.substr(0, 2) + " " + hash.substr(2), std::string()}) {
        installation.writeFile(manifest, "<Update><Hash>" + wrong + "</Hash></Update>");
        EXPECT_FALSE(context->validatePackage());
        EXPECT_EQ(lastLine(), "Hash check failed on downloaded data.");
    }
    installation.writeFile(manifest, "<Update><Hash>" + hash + "</Hash></Update>");
    EXPECT_TRUE(context->validatePackage());
    const std::vector<std::string> all = lines();
    EXPECT_EQ(
        std::vector<std::string>(all.end() - 2, all.end()),
        std::vector<std::string>({"Validating downloaded files...", "Validation successful."}));
    std::filesystem::remove(package);
    EXPECT_FALSE(context->validatePackage());
}

// The quiet form writes nothing; the package copies go only after an update was found.
TEST_F(UpdateSteps, CleanUp) {
    const std::string stagedCopy = installation.updateDir + "/Pelorin.msi";
    for (const std::string& file : {manifest, package, stagedCopy})
        installation.writeFile(file, "x");
    const std::string line = lastLine();
    context->cleanTemporaryFiles(false);
    EXPECT_EQ(lastLine(), line);
    EXPECT_FALSE(std::filesystem::exists(manifest));
    EXPECT_TRUE(std::filesystem::exists(package) && std::filesystem::exists(stagedCopy));
    context->updateFound = true;
    context->cleanTemporaryFiles(true);
    EXPECT_FALSE(std::filesystem::exists(package) || std::filesystem::exists(stagedCopy));
    EXPECT_EQ(lastLine(), "Temporary files cleaned up successfully.");
}
