#include "publish/input_checks.h"

#include <gtest/gtest.h>

TEST(PublishInputChecks, DottedVersionIsRefused) {
    EXPECT_NE(versionProblem("1.2.3"), "");  // the updater would read 1.2
    EXPECT_EQ(versionProblem("1.23"), "");
}

TEST(PublishInputChecks, VersionReadAsZeroIsRefused) {
    EXPECT_NE(versionProblem(""), "");
    EXPECT_NE(versionProblem("beta"), "");
    EXPECT_NE(versionProblem("v1.1"), "");
    EXPECT_NE(versionProblem("0.0"), "");
}

TEST(PublishInputChecks, VersionBeyondFloatPrecisionIsRefused) {
    EXPECT_NE(versionProblem("1.00000001"), "");  // would equal 1.0
    EXPECT_NE(versionProblem("16777217"), "");    // 2^24 + 1 would equal 2^24
    EXPECT_EQ(versionProblem("16777216"), "");
    EXPECT_EQ(versionProblem("1.000001"), "");
}

TEST(PublishInputChecks, VersionWithTrailingZeroGetsANote) {
    EXPECT_EQ(versionProblem("2.10"), "");
    EXPECT_NE(versionNote("2.10"), "");  // 2.1 to the updater, older than 2.9
    EXPECT_EQ(versionNote("2.0"), "");
    EXPECT_EQ(versionNote("20"), "");
}

// The manifest reader condenses white space, so such a URL would change.
TEST(PublishInputChecks, UrlWithWhiteSpaceIsRefused) {
    EXPECT_NE(urlProblem("https://localhost/Pelorin 1.1.msi"), "");
    EXPECT_NE(urlProblem("https://localhost/Pelorin\t1.1.msi"), "");
    EXPECT_EQ(urlProblem("https://localhost/Pelorin%201.1.msi?a=1&b=2"), "");
}

TEST(PublishInputChecks, UrlWithoutHttpSchemeIsRefused) {
    EXPECT_NE(urlProblem("ftp://localhost/Pelorin.msi"), "");
    EXPECT_NE(urlProblem("localhost/Pelorin.msi"), "");
    EXPECT_NE(urlProblem("https://"), "");
    EXPECT_EQ(urlProblem("http://localhost/Pelorin.msi"), "");
}
