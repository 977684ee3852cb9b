#include "core/release_paths.h"

#include "core/path_utils.h"

namespace {

const char* const packageFileName = "Pelorin.msi";

}  // namespace

std::string downloadedPackagePath(const std::string& installDir) {
    return joinPath(installDir, packageFileName);
}

std::string downloadedDeltaPath(const std::string& installDir) {
    return joinPath(installDir, "Pelorin.delta");
}

std::string stagedPackagePath(const std::string& updateDir) {
    return joinPath(updateDir, packageFileName);
}

std::string stagingTreePath(const std::string& updateDir) {
    return joinPath(updateDir, "program files");
}

std::string unpackedTreePath(const std::string& stagingTree) {
    return joinPath(joinPath(stagingTree, "Halvorne"), "Pelorin");
}
