// Any delta file through its reader: every head it accepts keeps its path below the tree and its
// chunks within their bounds, and it ends only at an end mark with nothing after it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "install/delta_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const folder = std::getenv("TMPDIR");
    static const std::string path = std::string(folder ? folder : "/tmp") + "/fuzz.delta";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
    DeltaReader reader(path);
    DeltaEntry entry;
    DeltaChunk chunk;
    std::vector<unsigned char> payload;
    while (reader.nextEntry(entry)) {
        if (!deltaPathAllowed(entry.path) || entry.sha256.size() != 64) std::abort();
        for (std::uint32_t i = 0; i < entry.chunkCount; ++i) {
            if (!(i % 2 ? reader.skipChunk(chunk) : reader.nextChunk(chunk, payload))) return 0;
            if (chunk.outputLength > deltaChunkBytes || chunk.referenceLength > deltaReferenceBytes)
                std::abort();
        }
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (reader.atEnd() && text.compare(size - 4, 4, deltaEndMark) != 0) std::abort();
    return 0;
}
