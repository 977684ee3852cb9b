#include "common/work_folder.h"

#include <filesystem>
#include <random>

#include "core/path_utils.h"
#include "platform/platform.h"

WorkFolder::WorkFolder(const std::string& prefix) {
    std::string base = platform::temporaryDirectory();
    if (base.empty()) return;
    if (base.back() == platform::pathSeparator) base.pop_back();
    std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = joinPath(base, prefix + std::to_string(device()));
        bool alreadyExists = false;
        if (platform::createDirectory(candidate, alreadyExists)) {
            path_ = candidate;
            return;
        }
        if (!alreadyExists) return;
    }
}

WorkFolder::~WorkFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    // An unpacked release may hold files marked read-only, which only the
    // command interpreter's removal takes on Windows.
    if (fileExists(path_)) platform::runCommand(platform::commands.removeTree(path_));
}

std::string WorkFolder::file(const std::string& name) const {
    return joinPath(path_, name);
}
