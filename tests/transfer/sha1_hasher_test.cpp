// SHA-1 of bytes and of files, on every compression engine this CPU has.
#include "transfer/sha1_hasher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <utility>

#include "support/temp_dir.h"
#include "transfer/file_hash.h"
#include "transfer/sha1_compress.h"

static std::string digestOf(const std::string& bytes, std::size_t split) {  // two appends
    Sha1Hasher hasher;
    hasher.append(bytes.data(), static_cast<uint32_t>(split));
    hasher.append(bytes.data() + split, static_cast<uint32_t>(bytes.size() - split));
    hasher.finalize();
    std::wstring wide;
    hasher.reportHash(wide);
    return std::string(wide.begin(), wide.end());
}

// Published vectors, then bytes around the padding limit, a block and the file reader's buffer.
TEST(Sha1Hasher, MessagesAndFilesGiveTheirKnownDigests) {
    std::string bytes(524801, '\0');
    uint32_t state = 1;  // a linear congruential generator's top byte
    for (char& byte : bytes) byte = char((state = state * 1664525u + 1013904223u) >> 24);
    const std::pair<std::string, const char*> cases[] = {
        {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
        {bytes.substr(0, 55), "87EE399B09BF9429E9C9200A45A3156CD78B8762"},
        {bytes.substr(0, 63), "80B4E179E93431D8AA1A9C25770D3781ED0C8912"},
        {bytes.substr(0, 64), "3CDA0ED8FD1DB9CF3B06A02D69FE62A9B050C2CC"},
        {bytes.substr(0, 65), "69287259F3A30830B9019C95E76E797B1A7D9A00"},
        {bytes.substr(0, 524799), "8815972DE3F71F1A4049CC59F2F8E36FD0625248"},
        {bytes.substr(0, 524800), "24FE2AC0EB88984681149E3A5006B01632949FC1"},
        {bytes, "E3ECE1ECE4460FC88E89508E4FAF7A3F0926504D"},
    };
    const TempDir dir;
    const std::string path = dir.path() + "/message.bin";
    const Sha1Engine previous = sha1ActiveEngine();
    for (Sha1Engine engine : {Sha1Engine::Portable, Sha1Engine::ShaExtensions}) {
        if (!sha1UseEngine(engine)) continue;
        for (const auto& [message, digest] : cases) {
            SCOPED_TRACE(testing::Message() << message.size() << " bytes, engine " << int(engine));
            EXPECT_EQ(digestOf(message, message.size()), digest);
            EXPECT_EQ(digestOf(message, message.size() / 2), digest);
            std::ofstream(path, std::ios::binary | std::ios::trunc) << message;
            EXPECT_EQ(hashFileToHex(path), digest);
        }
    }
    sha1UseEngine(previous);
    EXPECT_TRUE(sha1EngineAvailable(Sha1Engine::Portable));
    EXPECT_EQ(sha1EngineAvailable(Sha1Engine::ShaExtensions), sha1CpuHasShaExtensions());
    EXPECT_EQ(hashFileToHex(dir.path() + "/absent.lst"), "");
    EXPECT_EQ(hashFileToHex(dir.path()), "");
    EXPECT_FALSE(fileMatchesHash(dir.path(), ""));  // unhashable: matches nothing, not even ""
}
