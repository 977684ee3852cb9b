#include <gtest/gtest.h>

#include <filesystem>

#include "app/updater_context.h"
#include "support/installation.h"
#include "transfer/file_hash.h"

namespace {

class PackageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        installation.layOutComplete();
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        installation.writeFile(packagePath, "package bytes");
    }

    bool validateAgainst(const std::string& hashText) {
        installation.writeFile(installation.dataDir + "/serverManifest.xml",
                               "<Update><Hash>" + hashText + "</Hash></Update>");
        return context->validatePackage();
    }

    std::vector<std::string> lines() {
        context->logStream->flush();
        return Installation::bodyLines(readFile(installation.logPath()));
    }

    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string packagePath = installation.installDir + "/Pelorin.msi";
};

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

TEST_F(PackageFiles, OnlyTheExactUpperCaseHashValidates) {
    const std::string hash = hashFileToHex(packagePath);
    ASSERT_EQ(hash.size(), 40u);
    EXPECT_TRUE(validateAgainst(hash));
    EXPECT_FALSE(validateAgainst(lowerCase(hash)));
    EXPECT_FALSE(validateAgainst(hash.substr(0, 2) + " " + hash.substr(2)));
    EXPECT_FALSE(validateAgainst(""));
    const std::vector<std::string> all = lines();
    const std::vector<std::string> tail(all.end() - 8, all.end());
    EXPECT_EQ(tail,
              std::vector<std::string>(
                  {"Validating downloaded files...", "Validation successful.",
                   "Validating downloaded files...", "Hash check failed on downloaded data.",
                   "Validating downloaded files...", "Hash check failed on downloaded data.",
                   "Validating downloaded files...", "Hash check failed on downloaded data."}));
}

TEST_F(PackageFiles, MissingPackageFailsTheValidation) {
    std::filesystem::remove(packagePath);
    EXPECT_FALSE(validateAgainst("DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"));
    EXPECT_EQ(lines().back(), "Hash check failed on downloaded data.");
}

TEST_F(PackageFiles, CleanUpRemovesThePackageCopiesOnlyAfterAnUpdateWasFound) {
    const std::string manifest = installation.dataDir + "/serverManifest.xml";
    const std::string stagedCopy = installation.updateDir + "/Pelorin.msi";
    installation.writeFile(stagedCopy, "copy");
    installation.writeFile(manifest, "<Update/>");
    const std::size_t linesBefore = lines().size();
    context->cleanTemporaryFiles(false);
    EXPECT_EQ(lines().size(), linesBefore);  // the quiet form writes nothing
    EXPECT_FALSE(std::filesystem::exists(manifest));
    EXPECT_TRUE(std::filesystem::exists(packagePath));
    EXPECT_TRUE(std::filesystem::exists(stagedCopy));

    context->updateFound = true;
    context->cleanTemporaryFiles(true);
    EXPECT_FALSE(std::filesystem::exists(packagePath));
    EXPECT_FALSE(std::filesystem::exists(stagedCopy));
    const std::vector<std::string> all = lines();
    EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()),
              std::vector<std::string>(
                  {"Cleaning temporary files...", "Temporary files cleaned up successfully."}));
}
