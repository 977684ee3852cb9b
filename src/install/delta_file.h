// The delta file: what a release changed against one earlier release, file
// by file. pelorin-publish writes it; the updater reads it here, in one pass,
// never holding more of it than one chunk.
//
// Layout (integers little-endian):
//   "PELORIN DELTA 1\n"                        16 bytes
//   per file of the new release's program tree, in the tree's order:
//     kind        1 byte: 'U' unchanged, 'P' patched, 'N' new
//     path        u16 length and the bytes, '/' between the pieces, below
//                 the program tree ("Application/UpdatePelorin.xml")
//     size        u64, the new file's length
//     sha256      32 bytes, the new file's SHA-256 (for 'U' the installed
//                 file's as well)
//     old sha256  32 bytes, 'P' only: the installed file the patch applies to
//     chunks      'P' and 'N' only: u32 count, then per chunk
//                 u64 reference offset, u32 reference length,
//                 u32 output length, u32 payload length, and the payload:
//                 one zstd frame with a checksum, made with those bytes of
//                 the installed file as its reference prefix ('N': none)
//   "END\n"
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/stdio_file.h"

constexpr char deltaMagic[] = "PELORIN DELTA 1\n";
constexpr char deltaEndMark[] = "END\n";
// A chunk's output and reference bound the memory of applying a patch,
// whatever the file's size: the reference is the installed file's bytes
// around the chunk's own place, a margin before and after.
constexpr std::uint32_t deltaChunkBytes = 4u << 20;
constexpr std::uint32_t deltaReferenceMargin = 2u << 20;
constexpr std::uint32_t deltaReferenceBytes = deltaChunkBytes + 2 * deltaReferenceMargin;
constexpr std::size_t deltaPathBytes = 1024;

struct DeltaEntry {
    char kind = 0;  // 'U', 'P' or 'N'
    std::string path;
    std::uint64_t size = 0;
    std::string sha256;     // 64 lower-case hexadecimal digits
    std::string oldSha256;  // 'P' only
    std::uint32_t chunkCount = 0;
};

struct DeltaChunk {
    std::uint64_t referenceOffset = 0;
    std::uint32_t referenceLength = 0;
    std::uint32_t outputLength = 0;
    std::uint32_t payloadLength = 0;
};

// True for a path of the layout: pieces neither empty, "." nor "..", no
// backslash, colon or control character; so it stays below the tree it is
// joined to.
bool deltaPathAllowed(const std::string& path);

class DeltaReader {
public:
    // Opens the file and reads its magic; good() is false when either failed.
    explicit DeltaReader(const std::string& path);
    bool good() const { return good_; }
    // The next file's head; false at the end mark (atEnd) or at anything that
    // breaks the layout or its bounds (good() false from then on). The
    // previous file's chunks must have been read or skipped.
    bool nextEntry(DeltaEntry& entry);
    bool atEnd() const { return atEnd_; }
    // The entry's next chunk with its payload, or its head alone, the payload
    // stepped over.
    bool nextChunk(DeltaChunk& chunk, std::vector<unsigned char>& payload);
    bool skipChunk(DeltaChunk& chunk);

private:
    bool read(void* bytes, std::size_t length);
    bool readChunkHead(DeltaChunk& chunk);
    bool fail() { return good_ = false; }

    StdioFile file_;
    bool good_ = false;
    bool atEnd_ = false;
};
