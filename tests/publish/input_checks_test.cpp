#include "publish/input_checks.h"

#include <gtest/gtest.h>

TEST(PublishInputChecks, RefusesWhatTheUpdaterWouldReadOtherwise) {
    // 1.2.3 would be 1.2; "", beta, v1.1 and 0.0 would be 0; the last two are beyond a float.
    for (const char* version : {"1.2.3", "", "beta", "v1.1", "0.0", "1.00000001", "16777217"}) {
        EXPECT_NE(versionProblem(version), "") << version;
    }
    for (const char* version : {"1.23", "16777216", "1.000001", "2.10", "2.0", "20"}) {
        EXPECT_EQ(versionProblem(version), "") << version;
        EXPECT_EQ(versionNote(version) != "", version == std::string("2.10")) << version;
    }
    // The manifest reader would condense white space.
    for (const char* url :
         {"https://h/P 1.msi", "https://h/P\t1.msi", "ftp://h/P.msi", "h/P.msi", "https://"}) {
        EXPECT_NE(urlProblem(url), "") << url;
    }
    EXPECT_EQ(urlProblem("https://h/P%201.msi?a=1&b=2"), "");
    EXPECT_EQ(urlProblem("http://h/P.msi"), "");
}
