#include "install/delta_apply.h"

#include <zstd.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "core/path_utils.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "install/delta_file.h"
#include "install/package_installer.h"
#include "platform/platform.h"
#include "transfer/file_sha256.h"

namespace {

const std::string fallback = ", downloading the full package";
// More file heads than any release has: the heads are held for the whole
// release, so their count is bounded before it is read on.
constexpr std::size_t deltaEntryLimit = 1000000;

std::string nativeJoin(std::string directory, const std::string& deltaPath) {
    std::size_t start = 0;
    for (std::size_t slash; (slash = deltaPath.find('/', start)) != std::string::npos;
         start = slash + 1) {
        directory = joinPath(directory, deltaPath.substr(start, slash - start));
    }
    return joinPath(directory, deltaPath.substr(start));
}

// Every folder from `tree` down to the file's own.
bool makeParents(const std::string& tree, const std::string& deltaPath) {
    std::string directory = tree;
    std::size_t start = 0;
    for (std::size_t slash; (slash = deltaPath.find('/', start)) != std::string::npos;
         start = slash + 1) {
        directory = joinPath(directory, deltaPath.substr(start, slash - start));
        if (!makeDirectory(directory)) return false;
    }
    return true;
}

bool makeTree(const std::string& updateDir, const std::string& tree) {
    const std::string staging = stagingTreePath(updateDir);
    return makeDirectory(updateDir) && makeDirectory(staging) && makeDirectory(parentPath(tree)) &&
           makeDirectory(tree);
}

// Buffers reused from chunk to chunk: what applying holds at most.
struct ChunkBuffers {
    std::vector<unsigned char> reference, output, payload;
    std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context{ZSTD_createDCtx(), ZSTD_freeDCtx};
};

// Sized to `length` within one block of `bound` bytes, made when first needed:
// growing step by step would hold the old block and the new one at once.
void sizeWithin(std::vector<unsigned char>& buffer, std::size_t length, std::size_t bound) {
    if (buffer.capacity() < length) {
        std::vector<unsigned char>().swap(buffer);
        buffer.reserve(bound);
    }
    buffer.resize(length);
}

bool readReference(std::FILE* installed, const DeltaChunk& chunk, ChunkBuffers& buffers) {
    sizeWithin(buffers.reference, chunk.referenceLength, deltaReferenceBytes);
    if (chunk.referenceLength == 0) return true;
    return installed &&
           std::fseek(installed, static_cast<long>(chunk.referenceOffset), SEEK_SET) == 0 &&
           std::fread(buffers.reference.data(), 1, chunk.referenceLength, installed) ==
               chunk.referenceLength;
}

bool decodeChunk(const DeltaChunk& chunk, ChunkBuffers& buffers) {
    ZSTD_DCtx* context = buffers.context.get();
    sizeWithin(buffers.output, chunk.outputLength, deltaChunkBytes);
    if (!context || ZSTD_getFrameContentSize(buffers.payload.data(), buffers.payload.size()) !=
                        chunk.outputLength)
        return false;
    ZSTD_DCtx_reset(context, ZSTD_reset_session_and_parameters);
    if (chunk.referenceLength != 0 &&
        ZSTD_isError(ZSTD_DCtx_refPrefix(context, buffers.reference.data(), chunk.referenceLength)))
        return false;
    const std::size_t made =
        ZSTD_decompressDCtx(context, buffers.output.data(), buffers.output.size(),
                            buffers.payload.data(), buffers.payload.size());
    return !ZSTD_isError(made) && made == chunk.outputLength;
}

// One patched or new file into the staging tree, chunk by chunk.
bool rebuildFile(DeltaReader& reader, const DeltaEntry& entry, const std::string& installed,
                 const std::string& staged, ChunkBuffers& buffers) {
    StdioFile reference;
    if (entry.kind == 'P' && !reference.open(installed, "rb")) return false;
    StdioFile out(staged, "wb");
    std::uint64_t written = 0;
    for (std::uint32_t i = 0; out && i < entry.chunkCount; ++i) {
        DeltaChunk chunk;
        if (!reader.nextChunk(chunk, buffers.payload) ||
            !readReference(reference.get(), chunk, buffers) || !decodeChunk(chunk, buffers) ||
            std::fwrite(buffers.output.data(), 1, chunk.outputLength, out.get()) !=
                chunk.outputLength)
            return false;
        written += chunk.outputLength;
    }
    return out && out.close() && written == entry.size && fileSha256Hex(staged) == entry.sha256;
}

// The unpack makes the release's programs executable; so does the rebuild.
void markIfProgram(const std::string& staged, const std::string& deltaPath) {
    const std::string name = deltaPath.substr(deltaPath.rfind('/') + 1);
    if (name != platform::updaterExecutableName && name != platform::browserExecutableName) return;
    std::error_code ignored;
    using std::filesystem::perms;
    std::filesystem::permissions(platform::nativePath(staged),
                                 perms::owner_exec | perms::group_exec | perms::others_exec,
                                 std::filesystem::perm_options::add, ignored);
}

// The first pass: every head read, every payload stepped over.
bool readHeads(const std::string& deltaPath, std::vector<DeltaEntry>& entries) {
    DeltaReader reader(deltaPath);
    DeltaEntry entry;
    while (reader.nextEntry(entry)) {
        DeltaChunk chunk;
        for (std::uint32_t i = 0; i < entry.chunkCount; ++i)
            if (!reader.skipChunk(chunk)) return false;
        if (entries.size() == deltaEntryLimit) return false;
        entries.push_back(entry);
    }
    return reader.atEnd();
}

// Empty when every installed file the delta refers to is the one it expects.
std::string changedInstalledFile(const UpdaterContext& context,
                                 const std::vector<DeltaEntry>& entries) {
    for (const DeltaEntry& entry : entries) {
        if (entry.kind == 'N') continue;
        const std::string expected = entry.kind == 'U' ? entry.sha256 : entry.oldSha256;
        if (fileSha256Hex(nativeJoin(context.rootDir, entry.path)) != expected) return entry.path;
    }
    return std::string();
}

bool roomFor(const std::string& updateDir, const std::vector<DeltaEntry>& entries) {
    unsigned long long needed = 0, free = 0;
    for (const DeltaEntry& entry : entries)
        if (entry.kind != 'U') needed += entry.size;
    return makeDirectory(updateDir) && platform::freeDiskBytes(updateDir, free) && needed <= free;
}

// The second pass: the staging tree written. Empty, or the file that failed.
std::string rebuildTree(const UpdaterContext& context, const std::string& deltaPath,
                        const std::string& tree) {
    DeltaReader reader(deltaPath);
    ChunkBuffers buffers;
    DeltaEntry entry;
    while (reader.nextEntry(entry)) {
        if (entry.kind == 'U') continue;
        const std::string staged = nativeJoin(tree, entry.path);
        if (!makeParents(tree, entry.path) ||
            !rebuildFile(reader, entry, nativeJoin(context.rootDir, entry.path), staged, buffers))
            return entry.path;
        markIfProgram(staged, entry.path);
    }
    return reader.atEnd() ? std::string() : std::string("the delta file");
}

}  // namespace

std::string applyDelta(UpdaterContext& context, const std::string& deltaPath) {
    std::vector<DeltaEntry> entries;
    if (!readHeads(deltaPath, entries)) return "Delta update is corrupt" + fallback;
    const std::string changed = changedInstalledFile(context, entries);
    if (!changed.empty())
        return "Delta update not applicable to the installed " + changed + fallback;
    if (!roomFor(context.updateDir, entries))
        return "Delta update needs more free space than the disk has" + fallback;
    const std::string tree = unpackedTreePath(stagingTreePath(context.updateDir));
    if (!clearStaging(context) || !makeTree(context.updateDir, tree))
        return "Delta update could not be staged" + fallback;
    const std::string failed = rebuildTree(context, deltaPath, tree);
    if (!failed.empty()) {
        // Nothing of a failed delta stays, whatever becomes of the package.
        clearStaging(context);
        return "Delta update failed to apply to " + failed + fallback;
    }
    return std::string();
}
