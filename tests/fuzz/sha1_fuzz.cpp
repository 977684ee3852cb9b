// SHA-1 on each engine against OpenSSL's, appended in pieces of the length the first byte gives.
#include <openssl/sha.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "transfer/sha1_compress.h"
#include "transfer/sha1_hasher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(data, size, digest);
    std::wstring expected, hash;
    for (unsigned char byte : digest)
        expected += {L"0123456789ABCDEF"[byte >> 4], L"0123456789ABCDEF"[byte & 15]};
    const size_t piece = size == 0 ? 1 : data[0] % 150 + 1;  // up to two blocks and more
    for (Sha1Engine engine : {Sha1Engine::Portable, Sha1Engine::ShaExtensions}) {
        if (!sha1UseEngine(engine)) continue;
        Sha1Hasher hasher;
        for (size_t at = 0; at < size; at += piece)
            hasher.append(data + at, static_cast<uint32_t>(std::min(piece, size - at)));
        hasher.finalize();
        hasher.reportHash(hash);
        if (hash != expected) std::abort();
    }
    return 0;
}
