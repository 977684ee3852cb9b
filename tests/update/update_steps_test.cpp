// The manifest decision, the package check and the clean-up, on an in-process
// context over a complete installation.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/updater_context.h"
#include "support/installation.h"
#include "transfer/file_hash.h"

namespace fs = std::filesystem;

namespace {

class UpdateSteps : public ::testing::Test {
protected:
    void SetUp() override {
        installation.layOutComplete();
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
    }
    std::vector<std::string> lines() {
        context->logStream->flush();
        return Installation::bodyLines(readFile(installation.logPath()));
    }

    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string manifest = installation.dataDir + "/serverManifest.xml";
    const std::string package = installation.installDir + "/Pelorin.msi";
};

const std::string id = "com.halvornesys.pelorin";
const std::string upToDate = "Pelorin is up-to-date, no update found on server.";
const std::string corrupt = "Fatal Error! Server manifest file is corrupt.";

std::string offered(const std::string& version) {
    return "An updated Pelorin version " + version + " found on server.";
}

}  // namespace

TEST_F(UpdateSteps, ManifestDecision) {
    const struct {
        std::string appId, predicate, installed, line;
    } cases[] = {
        {id, "Pelorin.Version &lt; 2.9", "2.10", offered("2.9")},  // decimal fractions
        {id, "Pelorin.Version &lt; 1.2", "1.2.3", upToDate},
        {id, "v &lt; 1.0", "1.0", upToDate},
        {id, "v&lt;0.5", "", offered("0.5")},
        {id, "v > 1.0", "1.5", offered("1.0")},
        {id, "v > 1.0", "0.5", upToDate},
        {id, "v >", "0.1", offered("")},
        {id, "a > 9 &lt; 3.0 > 1", "2", offered("3.0 > 1")},   // the last '<' decides
        {id, "<![CDATA[v <   3.0  ]]>", "1", offered("3.0")},  // only spaces are trimmed
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
        const bool offers = c.line.rfind("An updated", 0) == 0;
        EXPECT_EQ(context->evaluateManifest(), offers);
        EXPECT_EQ(context->updateFound, offers);
        EXPECT_EQ(lines().back(), c.line);
    }
}

// The scenarios check the hash itself; here the lines around it and a missing package.
TEST_F(UpdateSteps, PackageValidation) {
    installation.writeFile(package, "package bytes");
    installation.writeFile(manifest,
                           "<Update><Hash>" + hashFileToHex(package) + "</Hash></Update>");
    EXPECT_TRUE(context->validatePackage());
    const std::vector<std::string> all = lines();
    EXPECT_EQ(all[all.size() - 2] + all.back(),
              "Validating downloaded files...Validation successful.");
    fs::remove(package);
    EXPECT_FALSE(context->validatePackage());
    EXPECT_EQ(lines().back(), "Hash check failed on downloaded data.");
}

// The quiet form writes nothing; the package copies go only after an update was found.
TEST_F(UpdateSteps, CleanUp) {
    const std::string staged = installation.updateDir + "/Pelorin.msi";
    for (const std::string& file : {manifest, package, staged}) installation.writeFile(file, "x");
    const std::size_t written = lines().size();
    context->cleanTemporaryFiles(false);
    EXPECT_EQ(lines().size(), written);
    EXPECT_FALSE(fs::exists(manifest));
    EXPECT_TRUE(fs::exists(package) && fs::exists(staged));
    context->updateFound = true;
    context->cleanTemporaryFiles(true);
    EXPECT_FALSE(fs::exists(package) || fs::exists(staged));
    EXPECT_EQ(lines().back(), "Temporary files cleaned up successfully.");
}
