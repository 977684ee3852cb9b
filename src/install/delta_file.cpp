#include "install/delta_file.h"

#include <zstd.h>

#include <cstring>

namespace {

std::uint64_t littleEndian(const unsigned char* bytes, int length) {
    std::uint64_t value = 0;
    for (int i = length - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

std::string hexOf(const unsigned char* bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) hex += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return hex;
}

bool pieceAllowed(const std::string& piece) {
    if (piece.empty() || piece == "." || piece == "..") return false;
    for (unsigned char c : piece)
        if (c < 0x20 || c == 0x7f || c == '\\' || c == ':') return false;
    return true;
}

}  // namespace

bool deltaPathAllowed(const std::string& path) {
    if (path.empty() || path.size() > deltaPathBytes) return false;
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos;
         start = slash + 1) {
        if (!pieceAllowed(path.substr(start, slash - start))) return false;
    }
    return pieceAllowed(path.substr(start));
}

DeltaReader::DeltaReader(const std::string& path) : file_(path, "rb") {
    char magic[sizeof deltaMagic - 1];
    good_ = file_ && read(magic, sizeof magic) && std::memcmp(magic, deltaMagic, sizeof magic) == 0;
}

bool DeltaReader::read(void* bytes, std::size_t length) {
    return good_ = file_ && std::fread(bytes, 1, length, file_.get()) == length;
}

bool DeltaReader::nextEntry(DeltaEntry& entry) {
    unsigned char kind = 0, length[2], size[8], sha[32];
    if (!good_ || atEnd_ || !read(&kind, 1)) return false;
    if (kind == deltaEndMark[0]) {
        char rest[sizeof deltaEndMark - 2];
        atEnd_ = read(rest, sizeof rest) && std::memcmp(rest, deltaEndMark + 1, sizeof rest) == 0 &&
                 std::fgetc(file_.get()) == EOF;
        return atEnd_ ? false : fail();
    }
    if ((kind != 'U' && kind != 'P' && kind != 'N') || !read(length, 2)) return fail();
    entry = DeltaEntry();
    entry.kind = static_cast<char>(kind);
    entry.path.resize(littleEndian(length, 2));
    if (!read(&entry.path[0], entry.path.size()) || !deltaPathAllowed(entry.path) ||
        !read(size, 8) || !read(sha, 32))
        return fail();
    entry.size = littleEndian(size, 8);
    entry.sha256 = hexOf(sha, 32);
    if (kind == 'P') {
        if (!read(sha, 32)) return false;
        entry.oldSha256 = hexOf(sha, 32);
    }
    unsigned char count[4] = {};
    if (kind != 'U' && !read(count, 4)) return false;
    entry.chunkCount = static_cast<std::uint32_t>(littleEndian(count, 4));
    // Every chunk but the last is whole.
    const std::uint64_t chunks = (entry.size + deltaChunkBytes - 1) / deltaChunkBytes;
    return kind == 'U' || entry.chunkCount == chunks ? true : fail();
}

bool DeltaReader::readChunkHead(DeltaChunk& chunk) {
    unsigned char head[20];
    if (!read(head, sizeof head)) return false;
    chunk.referenceOffset = littleEndian(head, 8);
    chunk.referenceLength = static_cast<std::uint32_t>(littleEndian(head + 8, 4));
    chunk.outputLength = static_cast<std::uint32_t>(littleEndian(head + 12, 4));
    chunk.payloadLength = static_cast<std::uint32_t>(littleEndian(head + 16, 4));
    return chunk.referenceLength <= deltaReferenceBytes && chunk.outputLength <= deltaChunkBytes &&
                   chunk.payloadLength <= ZSTD_compressBound(deltaChunkBytes)
               ? true
               : fail();
}

bool DeltaReader::nextChunk(DeltaChunk& chunk, std::vector<unsigned char>& payload) {
    if (!readChunkHead(chunk)) return false;
    // One block of the bound, so that no payload's growth holds two at once.
    if (payload.capacity() < chunk.payloadLength) {
        std::vector<unsigned char>().swap(payload);
        payload.reserve(ZSTD_compressBound(deltaChunkBytes));
    }
    payload.resize(chunk.payloadLength);
    return read(payload.data(), payload.size());
}

bool DeltaReader::skipChunk(DeltaChunk& chunk) {
    if (!readChunkHead(chunk)) return false;
    return good_ = std::fseek(file_.get(), chunk.payloadLength, SEEK_CUR) == 0;
}
