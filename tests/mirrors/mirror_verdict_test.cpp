#include "mirrors/mirror_verdict.h"

#include <gtest/gtest.h>

namespace {

const ManifestValues mainManifest = {"com.halvornesys.pelorin",
                                     "Pelorin.Version < 1.1",
                                     "https://m.example/Pelorin-1.1.msi",
                                     "4BC2B8D2F7A6C0E19D3F5A6B7C8D9E0F1A2B3C4D",
                                     "1.1",
                                     "0A1B2C3D4E5F60718293A4B5C6D7E8F901234567"};

struct Case {
    std::string ManifestValues::*field;  // the one value the mirror serves otherwise
    const char* value;
    MirrorClass expected;
    const char* reason;
};

}  // namespace

TEST(MirrorsVerdict, EachDifferenceFromTheMainManifestIsClassified) {
    const Case cases[] = {
        {&ManifestValues::predicate, "Pelorin.Version < 1.1", MirrorClass::Current, ""},
        {&ManifestValues::predicate, "v<1.10", MirrorClass::Current, ""},  // 1.10 is 1.1
        {&ManifestValues::predicate, "Pelorin.Version < 1.0", MirrorClass::Stale,
         "offers 1.0, the main server 1.1"},
        {&ManifestValues::predicate, "Pelorin.Version < 1.2", MirrorClass::Different,
         "offers 1.2, newer than the main server's 1.1"},
        {&ManifestValues::predicate, "Pelorin.Version > 1.1", MirrorClass::Different,
         "offers to newer installations, the main server to older"},
        {&ManifestValues::codebase, "https://m.example/Pelorin-1.1b.msi", MirrorClass::Different,
         "Codebase \"https://m.example/Pelorin-1.1b.msi\", the main server's "
         "\"https://m.example/Pelorin-1.1.msi\""},
        {&ManifestValues::hash, "4bc2b8d2f7a6c0e19d3f5a6b7c8d9e0f1a2b3c4d", MirrorClass::Different,
         "Hash \"4bc2b8d2f7a6c0e19d3f5a6b7c8d9e0f1a2b3c4d\", the main server's "
         "\"4BC2B8D2F7A6C0E19D3F5A6B7C8D9E0F1A2B3C4D\""},
        {&ManifestValues::listVersion, "1.0", MirrorClass::Stale,
         "server list \"1.0\", the main server's \"1.1\""},
        {&ManifestValues::listVersion, "1.10", MirrorClass::Current, ""},
        {&ManifestValues::listVersion, "1.2", MirrorClass::Different,
         "server list \"1.2\", the main server's \"1.1\""},
        {&ManifestValues::listHash, "", MirrorClass::Different,
         "Listhash \"\", the main server's \"0A1B2C3D4E5F60718293A4B5C6D7E8F901234567\""},
        {&ManifestValues::appId, "com.halvornesys.Pelorin", MirrorClass::Broken,
         "corrupt manifest: AppId \"com.halvornesys.Pelorin\""},
        {&ManifestValues::predicate, "Pelorin.Version 1.1", MirrorClass::Broken,
         "corrupt manifest: Predicate \"Pelorin.Version 1.1\" has no '<' or '>'"},
    };
    for (const Case& c : cases) {
        ManifestValues mirror = mainManifest;
        mirror.*c.field = c.value;
        const MirrorVerdict verdict = judgeManifest(mainManifest, mirror);
        EXPECT_EQ(mirrorClassName(verdict.mirrorClass), std::string(mirrorClassName(c.expected)))
            << c.value;
        EXPECT_EQ(verdict.reason, c.reason) << c.value;
    }
}

TEST(MirrorsVerdict, AnOlderReleaseIsStaleWhateverItsPackageAndTheWorstDifferenceDecides) {
    const ManifestValues oldRelease = {"com.halvornesys.pelorin",
                                       "Pelorin.Version < 1.0",
                                       "https://m.example/Pelorin-1.0.msi",
                                       "0000000000000000000000000000000000000000",
                                       "1.0",
                                       ""};
    MirrorVerdict verdict = judgeManifest(mainManifest, oldRelease);
    EXPECT_EQ(verdict.mirrorClass, MirrorClass::Stale);
    EXPECT_EQ(verdict.reason,
              "offers 1.0, the main server 1.1; server list \"1.0\", the main server's \"1.1\"");
    ManifestValues otherBuild = mainManifest;
    otherBuild.hash = oldRelease.hash;
    otherBuild.listVersion = "1.0";
    verdict = judgeManifest(mainManifest, otherBuild);
    EXPECT_EQ(verdict.mirrorClass, MirrorClass::Different);
    EXPECT_EQ(verdict.reason,
              "Hash \"0000000000000000000000000000000000000000\", the main server's "
              "\"4BC2B8D2F7A6C0E19D3F5A6B7C8D9E0F1A2B3C4D\"; server list \"1.0\", the main "
              "server's \"1.1\"");
    EXPECT_EQ(judgeManifest(mainManifest, ManifestValues()).reason, "not an update manifest");
}
