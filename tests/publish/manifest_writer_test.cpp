#include "publish/manifest_writer.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"
#include "update/xml_value.h"

namespace {

// What the updater reads from `text` when it is served as the manifest.
class PublishedManifest : public ::testing::Test {
protected:
    std::string readBack(const std::string& text, const std::string& elementName) {
        const std::string path = directory.path() + "/serverManifest.xml";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return readXmlValue(path, elementName);
    }

    TempDir directory;
};

}  // namespace

TEST_F(PublishedManifest, UpdaterReadsBackEveryValueExactly) {
    ManifestFields fields;
    fields.version = "1.1";
    fields.packageUrl = "https://localhost:8443/get?file=Pelorin-1.1.msi&sig=a<b>\"c\"'d'%20";
    fields.packageHash = "0123456789ABCDEF0123456789ABCDEF01234567";
    fields.listVersion = "2.5";
    fields.listUrl = "https://localhost:8443/list?name=ServerList.lst&v=2.5";
    fields.listHash = "89ABCDEF0123456789ABCDEF0123456789ABCDEF";
    const std::string text = manifestText(fields);

    EXPECT_EQ(readBack(text, "AppId"), "com.halvornesys.pelorin");
    EXPECT_EQ(readBack(text, "Codebase"), fields.packageUrl);
    EXPECT_EQ(readBack(text, "Hash"), fields.packageHash);
    EXPECT_EQ(readBack(text, "Listversion"), fields.listVersion);
    EXPECT_EQ(readBack(text, "Listfile"), fields.listUrl);
    EXPECT_EQ(readBack(text, "Listhash"), fields.listHash);
    // The offered version is what follows the predicate's last '<'.
    const std::string predicate = readBack(text, "Predicate");
    ASSERT_NE(predicate.rfind('<'), std::string::npos);
    EXPECT_EQ(predicate.substr(predicate.rfind('<') + 1), " 1.1");
}
