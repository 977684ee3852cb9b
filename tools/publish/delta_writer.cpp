#include "publish/delta_writer.h"

#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "common/work_folder.h"
#include "core/path_utils.h"
#include "install/delta_file.h"
#include "platform/platform.h"
#include "publish/package_check.h"
#include "transfer/file_sha256.h"
#include "update/xml_value.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;
using CompressionContext = std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)>;

// zstd --patch-from's own choice for large references is higher; 19 keeps a
// release's delta small at a release engineer's pace.
constexpr int compressionLevel = 19;

void putNumber(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xff);
}

void putSha256(std::string& out, const std::string& hex) {
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
}

Bytes readRange(const fs::path& path, std::uint64_t offset, std::uint64_t length) {
    Bytes bytes(length);
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

unsigned windowLogFor(std::size_t bytes) {
    unsigned log = 10;
    while (log < 27 && (std::size_t{1} << log) < bytes) ++log;
    return log;
}

// One chunk's head and frame; the reference may be empty.
bool appendChunk(std::string& out, ZSTD_CCtx* context, std::uint64_t referenceOffset,
                 const Bytes& reference, const Bytes& chunk) {
    ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, compressionLevel);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog,
                           static_cast<int>(windowLogFor(reference.size() + chunk.size())));
    if (!reference.empty() &&
        ZSTD_isError(ZSTD_CCtx_refPrefix(context, reference.data(), reference.size())))
        return false;
    Bytes frame(ZSTD_compressBound(chunk.size()));
    const std::size_t size =
        ZSTD_compress2(context, frame.data(), frame.size(), chunk.data(), chunk.size());
    if (ZSTD_isError(size)) return false;
    putNumber(out, referenceOffset, 8);
    putNumber(out, reference.size(), 4);
    putNumber(out, chunk.size(), 4);
    putNumber(out, size, 4);
    out.append(reinterpret_cast<const char*>(frame.data()), size);
    return true;
}

// Each chunk of the new file against the old file's bytes around its place.
bool appendChunks(std::string& out, ZSTD_CCtx* context, const fs::path& file, std::uint64_t size,
                  const fs::path* old) {
    const std::uint64_t oldSize = old ? fs::file_size(*old) : 0;
    putNumber(out, (size + deltaChunkBytes - 1) / deltaChunkBytes, 4);
    for (std::uint64_t at = 0; at < size; at += deltaChunkBytes) {
        const std::uint64_t length = std::min<std::uint64_t>(deltaChunkBytes, size - at);
        const std::uint64_t from =
            std::min(oldSize, at > deltaReferenceMargin ? at - deltaReferenceMargin : 0);
        const std::uint64_t to = std::min(oldSize, at + length + deltaReferenceMargin);
        const Bytes reference = old ? readRange(*old, from, to - from) : Bytes();
        if (!appendChunk(out, context, from, reference, readRange(file, at, length))) return false;
    }
    return true;
}

std::string relativeText(const fs::path& file, const fs::path& tree) {
    return platform::narrowPath(file.lexically_relative(tree));
}

// Appends one file's entry; false when it cannot be read or compressed.
bool appendEntry(std::string& out, ZSTD_CCtx* context, const fs::path& newTree,
                 const fs::path& oldTree, const fs::path& file) {
    const std::string path = relativeText(file, newTree);
    const fs::path old = oldTree / file.lexically_relative(newTree);
    const std::string sha = fileSha256Hex(platform::narrowPath(file));
    const bool hasOld = fs::is_regular_file(old);
    const std::string oldSha = hasOld ? fileSha256Hex(platform::narrowPath(old)) : std::string();
    if (!deltaPathAllowed(path) || sha.empty() || (hasOld && oldSha.empty())) return false;
    const char kind = !hasOld ? 'N' : oldSha == sha ? 'U' : 'P';
    const std::uint64_t size = fs::file_size(file);
    out += kind;
    putNumber(out, path.size(), 2);
    out += path;
    putNumber(out, size, 8);
    putSha256(out, sha);
    if (kind == 'U') return true;
    if (kind == 'P') putSha256(out, oldSha);
    return appendChunks(out, context, file, size, hasOld ? &old : nullptr);
}

std::vector<fs::path> filesOf(const fs::path& tree) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(tree))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::string writeTreeDelta(const std::string& oldTree, const std::string& newTree,
                           const std::string& deltaPath) {
    const fs::path oldRoot = platform::nativePath(oldTree), newRoot = platform::nativePath(newTree);
    CompressionContext context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    std::ofstream out(platform::nativePath(deltaPath), std::ios::binary | std::ios::trunc);
    std::string entry = deltaMagic;
    for (const fs::path& file : filesOf(newRoot)) {
        if (!context || !appendEntry(entry, context.get(), newRoot, oldRoot, file))
            return "cannot make the delta's entry for \"" + platform::narrowPath(file) + "\"";
        out.write(entry.data(), static_cast<std::streamsize>(entry.size()));
        entry.clear();
    }
    out << deltaEndMark;
    out.close();
    return out ? std::string() : "cannot write \"" + deltaPath + "\"";
}

std::string writePackageDelta(const std::string& previousPackage, const std::string& package,
                              const std::string& deltaPath, std::string& previousVersion) {
    WorkFolder oldFolder("pelorin-publish-"), newFolder("pelorin-publish-");
    std::string oldTree, newTree;
    std::string problem = unpackProgramTree(previousPackage, oldFolder.path(), oldTree);
    if (problem.empty()) problem = unpackProgramTree(package, newFolder.path(), newTree);
    if (!problem.empty()) return problem;
    previousVersion =
        readXmlValue(joinPath(joinPath(oldTree, "Application"), "UpdatePelorin.xml"), "Version");
    if (previousVersion.empty())
        return "the previous package \"" + previousPackage + "\" says no version";
    return writeTreeDelta(oldTree, newTree, deltaPath);
}
