#include "mirrors/work_dir.h"

#include <filesystem>
#include <random>

#include "platform/platform.h"

WorkDir::WorkDir() {
    std::string temporary = platform::temporaryDirectory();
    if (temporary.empty()) return;
    if (temporary.back() != platform::pathSeparator) temporary += platform::pathSeparator;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            temporary + "pelorin-mirrors-" + std::to_string(random() % 1000000000u);
        bool alreadyExists = false;
        if (platform::createDirectory(candidate, alreadyExists)) {
            path_ = candidate;
            return;
        }
        if (!alreadyExists) return;
    }
}

WorkDir::~WorkDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string WorkDir::file(const std::string& name) const {
    return path_ + platform::pathSeparator + name;
}
