// SHA-1 of bytes and of files, run on every compression engine this CPU has.
#include "transfer/sha1_hasher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "support/temp_dir.h"
#include "transfer/file_hash.h"
#include "transfer/sha1_compress.h"

namespace {

std::string narrowReport(const Sha1Hasher& hasher) {
    std::wstring wide;
    hasher.reportHash(wide);
    return std::string(wide.begin(), wide.end());
}

std::string digestOf(const std::string& bytes) {
    Sha1Hasher hasher;
    hasher.append(bytes.data(), static_cast<uint32_t>(bytes.size()));
    hasher.finalize();
    return narrowReport(hasher);
}

// Reproducible bytes (a linear congruential generator's top byte), so that the
// file digests below are fixed.
std::string testBytes(size_t count) {
    std::string bytes(count, '\0');
    uint32_t state = 1;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string writeFile(const std::string& directory, const std::string& bytes) {
    const std::string path = directory + "/" + std::to_string(bytes.size()) + ".bin";
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

const char* engineName(Sha1Engine engine) {
    return engine == Sha1Engine::Portable ? "Portable" : "ShaExtensions";
}

// Pins one engine for the test and gives the previous choice back afterwards.
class Sha1EngineTest : public ::testing::TestWithParam<Sha1Engine> {
protected:
    void SetUp() override {
        previous_ = sha1ActiveEngine();
        if (!sha1UseEngine(GetParam())) GTEST_SKIP() << "this CPU lacks the engine";
    }
    void TearDown() override { sha1UseEngine(previous_); }

private:
    Sha1Engine previous_ = Sha1Engine::Portable;
};

TEST_P(Sha1EngineTest, DigestsMatchFipsVectors) {
    const struct {
        std::string message;
        const char* digest;
    } vectors[] = {
        {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "mnopqrsmnopqrstnopqrstu",
         "A49B2446A02C645BF419F995B67091253A04A259"},
        {std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    };
    for (const auto& vector : vectors) {
        SCOPED_TRACE(vector.message.size());
        EXPECT_EQ(digestOf(vector.message), vector.digest);
    }
}

TEST_P(Sha1EngineTest, AppendSplitAtAnyOffsetGivesOneAppendDigest) {
    const std::string message = testBytes(200);
    const std::string whole = digestOf(message);
    for (size_t split = 0; split <= message.size(); ++split) {
        Sha1Hasher hasher;
        hasher.append(message.data(), static_cast<uint32_t>(split));
        hasher.append(message.data() + split, static_cast<uint32_t>(message.size() - split));
        hasher.finalize();
        EXPECT_EQ(narrowReport(hasher), whole) << "split at " << split;
    }
    Sha1Hasher byteByByte;
    for (char byte : message) byteByByte.append(&byte, 1);
    byteByByte.finalize();
    EXPECT_EQ(narrowReport(byteByByte), whole);
}

TEST_P(Sha1EngineTest, FileOfBoundarySizeHashesLikeItsBytes) {
    // Sizes around the padding limit, one block, and the 524,800-byte read.
    const struct {
        size_t size;
        const char* digest;
    } files[] = {
        {0, "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {55, "87EE399B09BF9429E9C9200A45A3156CD78B8762"},
        {56, "022FB2522A8B10F060869966D1EA6C0A14952EB4"},
        {63, "80B4E179E93431D8AA1A9C25770D3781ED0C8912"},
        {64, "3CDA0ED8FD1DB9CF3B06A02D69FE62A9B050C2CC"},
        {65, "69287259F3A30830B9019C95E76E797B1A7D9A00"},
        {524799, "8815972DE3F71F1A4049CC59F2F8E36FD0625248"},
        {524800, "24FE2AC0EB88984681149E3A5006B01632949FC1"},
        {524801, "E3ECE1ECE4460FC88E89508E4FAF7A3F0926504D"},
    };
    TempDir directory;
    const std::string bytes = testBytes(524801);
    for (const auto& file : files) {
        SCOPED_TRACE(file.size);
        const std::string prefix = bytes.substr(0, file.size);
        EXPECT_EQ(digestOf(prefix), file.digest);
        EXPECT_EQ(hashFileToHex(writeFile(directory.path(), prefix)), file.digest);
    }
}

TEST_P(Sha1EngineTest, ResetAfterUseGivesFreshDigest) {
    const std::string earlier = testBytes(100);
    Sha1Hasher hasher;
    hasher.append(earlier.data(), static_cast<uint32_t>(earlier.size()));
    hasher.finalize();
    hasher.reset();
    hasher.append("abc", 3);
    hasher.finalize();
    EXPECT_EQ(narrowReport(hasher), "A9993E364706816ABA3E25717850C26C9CD0D89D");

    hasher.reset();
    hasher.append(earlier.data(), 37);
    hasher.reset();
    hasher.append("abc", 3);
    hasher.finalize();
    EXPECT_EQ(narrowReport(hasher), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

INSTANTIATE_TEST_SUITE_P(Engines, Sha1EngineTest,
                         ::testing::Values(Sha1Engine::Portable, Sha1Engine::ShaExtensions),
                         [](const auto& info) { return std::string(engineName(info.param)); });

TEST(Sha1Hasher, BitCountCarriesIntoHighWord) {
    // 513 MiB is more than 2^32 bits, so the length in the padding needs the
    // carry out of the low word. The count is the same on every engine, so
    // the fastest one does the work.
    const std::string zeros(1 << 20, '\0');
    Sha1Hasher hasher;
    for (int i = 0; i < 513; ++i) hasher.append(zeros.data(), static_cast<uint32_t>(zeros.size()));
    hasher.finalize();
    EXPECT_EQ(narrowReport(hasher), "56B0894B2B968F40E7A5E9240D242C19F7C56B70");
}

TEST(Sha1Engines, EnginesAgreeOnEveryLength) {
    if (!sha1EngineAvailable(Sha1Engine::ShaExtensions)) GTEST_SKIP() << "only one engine here";
    const Sha1Engine previous = sha1ActiveEngine();
    const std::string bytes = testBytes(4096);
    for (size_t length = 0; length <= bytes.size(); length += length < 300 ? 1 : 97) {
        const std::string message = bytes.substr(0, length);
        sha1UseEngine(Sha1Engine::Portable);
        const std::string portable = digestOf(message);
        sha1UseEngine(Sha1Engine::ShaExtensions);
        EXPECT_EQ(digestOf(message), portable) << "length " << length;
    }
    sha1UseEngine(previous);
}

TEST(FileHash, MissingFileGivesEmptyText) {
    TempDir directory;
    EXPECT_EQ(hashFileToHex(directory.path() + "/absent.lst"), "");
}

TEST(FileHash, DirectoryGivesEmptyText) {
    TempDir directory;
    EXPECT_EQ(hashFileToHex(directory.path()), "");
}

}  // namespace
