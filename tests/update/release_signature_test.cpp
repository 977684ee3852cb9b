// The signature file's text and its times, read as every updater with a
// release key reads them: what counts as a signature file at all.
#include "update/release_signature.h"

#include <gtest/gtest.h>

#include <string>

TEST(ReleaseSignature, ReadsOnlyTheThreeLinesInTheirOrder) {
    const std::string hex(128, 'a'), signature = "\nsignature " + hex + "\n";
    const struct {
        std::string text;
        bool read;
        unsigned long long serial;
        long long expiresAt;
    } cases[] = {
        {"serial 7\nexpires 1970-01-01T00:00:00Z" + signature, true, 7, 0},
        {"serial 18446744073\nexpires 2038-01-19T03:14:08Z" + signature, true, 18446744073,
         2147483648},
        {"serial 1\nexpires 2028-02-29T23:59:59Z" + signature, true, 1, 1835481599},
        {"serial 1\nexpires 2100-03-01T00:00:00Z" + signature, true, 1, 4107542400},
        {"serial -1\nexpires 2030-01-01T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires 2030-01-01T00:00:00" + signature, false, 0, 0},
        {"serial 1\nexpires 2030-13-01T00:00:00Z" + signature, false, 0, 0},
        {"expires 2030-01-01T00:00:00Z\nserial 1" + signature, false, 0, 0},
        {"serial 1\nexpires 2030-01-01T00:00:00Z" + signature + "\n", false, 0, 0},
        {"serial 1\nexpires 2030-01-01T00:00:00Z\nsignature " + hex, false, 0, 0},
        {"serial 1\r\nexpires 2030-01-01T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires 2030-01-01T00:00:00Z\nsignature " + hex + "a\n", false, 0, 0},
        {"<html>404</html>\n", false, 0, 0},
        // Verified as written: one text, one number.
        {"serial 012\nexpires 2030-01-01T00:00:00Z" + signature, false, 0, 0},
        {"serial 0\nexpires 2030-01-01T00:00:00Z" + signature, true, 0, 1893456000},
        {"serial 999999999999999999\nexpires 2030-01-01T00:00:00Z" + signature, true,
         999999999999999999, 1893456000},
        {"serial 1000000000000000000\nexpires 2030-01-01T00:00:00Z" + signature, false, 0, 0},
        {"serial +1\nexpires 2030-01-01T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires 2030-02-30T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires 2027-02-29T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires 2100-02-29T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires 2030-01-01T24:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires  030-01-01T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires +030-01-01T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires -001-01-01T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires 2030-1-01T00:00:00Z" + signature, false, 0, 0},
        {"serial 1\nexpires 2030-01-01T00:00:00Z\nsignature " + std::string(128, 'g') + "\n", false,
         0, 0}};
    for (const auto& c : cases) {
        ReleaseSignature read;
        EXPECT_EQ(parseReleaseSignature(c.text, read), c.read) << c.text;
        if (!c.read) continue;
        EXPECT_EQ(read.serial, c.serial) << c.text;
        EXPECT_EQ(read.expiresAt, c.expiresAt) << c.text;
        EXPECT_EQ(utcText(read.expiresAt), read.expires) << c.text;
        EXPECT_EQ(releaseSignatureText(read), c.text);
    }
}

// ReleaseSerial.txt: today's line, the serial with the accepted manifest's SHA-256, or nothing.
// What is read writes back to the same bytes; what is not leaves the record untouched.
TEST(ReleaseSignature, AcceptedReleaseReadsWholeOrNotAtAll) {
    const std::string sha(64, 'a');
    const std::pair<std::string, bool> cases[] = {{"7\n", true},
                                                  {"7 " + sha + "\n", true},
                                                  {"0\n", true},
                                                  {"", false},
                                                  {"\n", false},
                                                  {"07\n", false},
                                                  {"7\r\n", false},
                                                  {"7 \n", false},
                                                  {"7 " + std::string(64, 'A') + "\n", false},
                                                  {"7 " + sha.substr(1) + "\n", false},
                                                  {"1x2\n", false}};
    for (const auto& [text, readable] : cases) {
        AcceptedRelease read{99, "x"};
        EXPECT_EQ(parseAcceptedRelease(text, read), readable) << text;
        EXPECT_EQ(readable ? acceptedReleaseText(read) : std::to_string(read.serial),
                  readable ? text : "99")
            << text;
    }
}
