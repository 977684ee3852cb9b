#include <gtest/gtest.h>

#include <filesystem>

#include "app/updater_context.h"
#include "support/installation.h"

namespace {

// An in-process context over a complete installation, with the manifest and
// the installed version written as the test says.
class ManifestDecision : public ::testing::Test {
protected:
    void SetUp() override {
        installation.layOutComplete();
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        ASSERT_EQ(context->state, LogLevel::Info);
    }

    bool decide(const std::string& predicate, const std::string& installedVersion,
                const std::string& appId = "com.halvornesys.pelorin") {
        writeManifest("<Update><AppId>" + appId + "</AppId><Predicate>" + predicate +
                      "</Predicate></Update>");
        installation.writeFile(installation.applicationDir + "/UpdatePelorin.xml",
                               "<Update><Version>" + installedVersion + "</Version></Update>");
        return context->evaluateManifest();
    }

    void writeManifest(const std::string& text) {
        installation.writeFile(installation.dataDir + "/serverManifest.xml", text);
    }

    std::string lastLine() {
        context->logStream->flush();
        return Installation::bodyLines(readFile(installation.logPath())).back();
    }

    Installation installation;
    std::unique_ptr<UpdaterContext> context;
};

}  // namespace

TEST_F(ManifestDecision, VersionsCompareAsDecimalFractions) {
    EXPECT_TRUE(decide("Pelorin.Version &lt; 2.9", "2.10"));  // 2.9 > 2.1
    EXPECT_EQ(lastLine(), "An updated Pelorin version 2.9 found on server.");
    EXPECT_TRUE(context->updateFound);
    EXPECT_FALSE(decide("Pelorin.Version &lt; 1.2", "1.2.3"));
    EXPECT_EQ(lastLine(), "Pelorin is up-to-date, no update found on server.");
    EXPECT_FALSE(decide("v &lt; 1.0", "1.0"));
    EXPECT_TRUE(decide("v &lt; 0.5", ""));  // an empty installed version is 0
    EXPECT_EQ(context->state, LogLevel::Info);
}

TEST_F(ManifestDecision, GreaterThanOffersWhenTheInstalledVersionIsAbove) {
    EXPECT_TRUE(decide("v > 1.0", "1.5"));
    EXPECT_FALSE(decide("v > 1.0", "0.5"));
    EXPECT_TRUE(decide("v >", "0.1"));  // nothing after it: the offer is 0
    EXPECT_EQ(lastLine(), "An updated Pelorin version  found on server.");
}

TEST_F(ManifestDecision, LastLessThanDecidesAndOnlySpacesAreTrimmed) {
    EXPECT_TRUE(decide("a > 9 &lt; 3.0 > 1", "2"));
    EXPECT_EQ(context->newVersion, "3.0 > 1");
    EXPECT_TRUE(decide("<![CDATA[v <   3.0  ]]>", "1"));
    EXPECT_EQ(lastLine(), "An updated Pelorin version 3.0 found on server.");
}

TEST_F(ManifestDecision, CorruptManifestsAreFatal) {
    const std::vector<std::pair<std::string, std::string>> corrupt = {
        {"v &lt; 2.0", "com.halvornesys.Pelorin"},
        {"v &lt; 2.0", ""},
        {"version 2.0", "com.halvornesys.pelorin"},
        {"", "com.halvornesys.pelorin"},
    };
    for (const auto& [predicate, appId] : corrupt) {
        context->state = LogLevel::Info;
        EXPECT_FALSE(decide(predicate, "1.0", appId));
        EXPECT_EQ(context->state, LogLevel::Fatal);
        EXPECT_EQ(lastLine(), "Fatal Error! Server manifest file is corrupt.");
    }
    for (const std::string& page : {std::string("<html><body>404 Not Found</body></html>"),
                                    std::string("<Update><AppId>com.halvorn")}) {
        context->state = LogLevel::Info;
        writeManifest(page);
        EXPECT_FALSE(context->evaluateManifest());
        EXPECT_EQ(lastLine(), "Fatal Error! Server manifest file is corrupt.");
    }
}
