#include "transfer/sha1_hasher.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "platform/stdio_file.h"
#include "transfer/sha1_compress.h"

namespace {

// 32 x 20 x 820 bytes: a whole number of 64-byte blocks, so every read after
// the first is compressed straight from the buffer.
constexpr size_t kReadBufferSize = 524800;

void storeBigEndian(uint32_t value, unsigned char* bytes) {
    bytes[0] = static_cast<unsigned char>(value >> 24);
    bytes[1] = static_cast<unsigned char>(value >> 16);
    bytes[2] = static_cast<unsigned char>(value >> 8);
    bytes[3] = static_cast<unsigned char>(value);
}

}  // namespace

Sha1Hasher::Sha1Hasher() {
    reset();
}

Sha1Hasher::~Sha1Hasher() {
    reset();
}

void Sha1Hasher::reset() {
    chainingValue[0] = 0x67452301;
    chainingValue[1] = 0xEFCDAB89;
    chainingValue[2] = 0x98BADCFE;
    chainingValue[3] = 0x10325476;
    chainingValue[4] = 0xC3D2E1F0;
    bitCountLow = 0;
    bitCountHigh = 0;
}

void Sha1Hasher::addToBitCount(uint32_t byteCount) {
    const uint64_t bits = uint64_t{byteCount} << 3;
    const uint32_t oldLow = bitCountLow;
    bitCountLow += static_cast<uint32_t>(bits);
    if (bitCountLow < oldLow) ++bitCountHigh;
    bitCountHigh += static_cast<uint32_t>(bits >> 32);
}

void Sha1Hasher::append(const void* data, uint32_t length) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    const uint32_t buffered = (bitCountLow >> 3) & 63;
    addToBitCount(length);

    const uint32_t room = 64 - buffered;
    if (length < room) {
        std::memcpy(blockBuffer + buffered, bytes, length);
        return;
    }
    uint32_t taken = 0;
    if (buffered != 0) {
        std::memcpy(blockBuffer + buffered, bytes, room);
        sha1CompressBlocks(chainingValue, workspace, blockBuffer, 1);
        taken = room;
    }
    const uint32_t wholeBlocks = (length - taken) / 64;
    if (wholeBlocks != 0) {
        sha1CompressBlocks(chainingValue, workspace, bytes + taken, wholeBlocks);
        taken += wholeBlocks * 64;
    }
    std::memcpy(blockBuffer, bytes + taken, length - taken);
}

bool Sha1Hasher::hashFile(const std::wstring& path) {
    StdioFile file(platform::openFileWide(path, "rb"));
    if (!file) return false;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kReadBufferSize]);
    if (!buffer) return false;

    size_t got = 0;
    do {
        got = std::fread(buffer.get(), 1, kReadBufferSize, file.get());
        if (got > 0) append(buffer.get(), static_cast<uint32_t>(got));
    } while (got == kReadBufferSize);
    return std::feof(file.get()) != 0;
}

void Sha1Hasher::finalize() {
    unsigned char lengthBytes[8];
    storeBigEndian(bitCountHigh, lengthBytes);
    storeBigEndian(bitCountLow, lengthBytes + 4);

    // A one bit, then zeros up to 56 bytes into a block, then the length.
    static const unsigned char padding[64] = {0x80};
    const uint32_t buffered = (bitCountLow >> 3) & 63;
    append(padding, buffered < 56 ? 56 - buffered : 120 - buffered);
    append(lengthBytes, 8);

    for (int i = 0; i < 5; ++i) storeBigEndian(chainingValue[i], digest + 4 * i);

    // Leave nothing of the message behind: the compression over a zeroed block
    // also overwrites the schedule of the last real block.
    std::memset(blockBuffer, 0, sizeof blockBuffer);
    std::memset(chainingValue, 0, sizeof chainingValue);
    bitCountLow = 0;
    bitCountHigh = 0;
    sha1CompressBlocks(chainingValue, workspace, blockBuffer, 1);
}

void Sha1Hasher::reportHash(std::wstring& out) const {
    out.clear();
    for (unsigned char byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", byte);
        out += static_cast<wchar_t>(pair[0]);
        out += static_cast<wchar_t>(pair[1]);
    }
}
