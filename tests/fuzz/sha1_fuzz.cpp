// SHA-1 on both engines against OpenSSL, on any data appended in any pieces.
//
// The input's first byte gives the number of cuts (up to 15), the next two
// bytes per cut their offsets into the rest, which is the message.
#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_installation.h"
#include "transfer/sha1_compress.h"
#include "transfer/sha1_hasher.h"

namespace {

std::wstring opensslHashText(const uint8_t* message, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    require(EVP_Digest(message, size, digest, &length, EVP_sha1(), nullptr) == 1 && length == 20,
            "OpenSSL's SHA-1 failed");
    std::wstring text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", digest[i]);
        text += static_cast<wchar_t>(pair[0]);
        text += static_cast<wchar_t>(pair[1]);
    }
    return text;
}

std::wstring hashTextInPieces(const uint8_t* message, const std::vector<size_t>& cuts,
                              size_t size) {
    Sha1Hasher hasher;
    size_t start = 0;
    for (size_t cut : cuts) {
        hasher.append(message + start, static_cast<uint32_t>(cut - start));
        start = cut;
    }
    hasher.append(message + start, static_cast<uint32_t>(size - start));
    hasher.finalize();
    std::wstring text;
    hasher.reportHash(text);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t cutCount = data[0] % 16;
    const size_t header = 1 + 2 * cutCount;
    if (size < header) return 0;
    const uint8_t* message = data + header;
    const size_t messageSize = size - header;
    std::vector<size_t> cuts;
    for (size_t i = 0; i < cutCount; ++i) {
        const size_t offset = data[1 + 2 * i] | (size_t{data[2 + 2 * i]} << 8);
        cuts.push_back(offset % (messageSize + 1));
    }
    std::sort(cuts.begin(), cuts.end());

    const std::wstring expected = opensslHashText(message, messageSize);
    for (Sha1Engine engine : {Sha1Engine::Portable, Sha1Engine::ShaExtensions}) {
        if (!sha1UseEngine(engine)) continue;
        require(hashTextInPieces(message, cuts, messageSize) == expected,
                engine == Sha1Engine::Portable ? "the portable engine differs from OpenSSL"
                                               : "the SHA extensions engine differs from OpenSSL");
    }
    return 0;
}
