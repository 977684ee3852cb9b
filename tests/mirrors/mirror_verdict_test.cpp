#include "mirrors/mirror_verdict.h"

#include <gtest/gtest.h>

TEST(MirrorsVerdict, EachDifferenceFromTheMainManifestIsNamedAndTheWorstDecides) {
    using M = ManifestValues;
    using C = MirrorClass;
    const M mainManifest = {
        "com.halvornesys.pelorin", "Pelorin.Version < 1.1", "a.msi", "AB", "1.1", "CD"};
    const struct {
        std::string M::*field;  // the value the mirror serves otherwise
        const char* value;
        C expected;
        const char* reason;
        std::string M::*otherField = nullptr;  // and another
        const char* otherValue = nullptr;
    } cases[] = {
        {&M::predicate, "Pelorin.Version < 1.1", C::Current, ""},
        {&M::predicate, "v<1.10", C::Current, ""},  // 1.10 is 1.1
        {&M::predicate, "Pelorin.Version < 1.0", C::Stale, "offers 1.0, the main server 1.1"},
        {&M::predicate, "v < 1.2", C::Different, "offers 1.2, newer than the main server's 1.1"},
        {&M::predicate, "v > 1.1", C::Different,
         "offers to newer installations, the main server to older"},
        {&M::codebase, "b.msi", C::Different, "Codebase \"b.msi\", the main server's \"a.msi\""},
        {&M::hash, "ab", C::Different, "Hash \"ab\", the main server's \"AB\""},
        {&M::listVersion, "1.0", C::Stale, "server list \"1.0\", the main server's \"1.1\""},
        {&M::listVersion, "1.10", C::Current, ""},
        {&M::listVersion, "1.2", C::Different, "server list \"1.2\", the main server's \"1.1\""},
        {&M::listHash, "", C::Different, "Listhash \"\", the main server's \"CD\""},
        {&M::appId, "com.halvornesys.Pelorin", C::Broken,
         "corrupt manifest: AppId \"com.halvornesys.Pelorin\""},
        {&M::predicate, "v 1.1", C::Broken,
         "corrupt manifest: Predicate \"v 1.1\" has no '<' or '>'"},
        {&M::appId, "", C::Broken, "not an update manifest", &M::predicate, ""},
        {&M::hash, "EF", C::Different,
         "Hash \"EF\", the main server's \"AB\"; server list \"1.0\", the main server's \"1.1\"",
         &M::listVersion, "1.0"},
        // An older release: its package is not compared.
        {&M::predicate, "v < 1.0", C::Stale, "offers 1.0, the main server 1.1", &M::hash, "EF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        M mirror = mainManifest;
        mirror.*c.field = c.value;
        if (c.otherField) mirror.*c.otherField = c.otherValue;
        const MirrorVerdict verdict = judgeManifest(mainManifest, mirror);
        EXPECT_EQ(verdict.mirrorClass, c.expected);
        EXPECT_EQ(verdict.reason, c.reason);
    }
}
