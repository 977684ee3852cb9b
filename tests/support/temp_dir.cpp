#include "support/temp_dir.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    // A random name, drawn again when taken: create_directory tells whether it
    // made the directory, so two tests never share one.
    std::random_device device;
    std::uniform_int_distribution<unsigned long long> draw;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("pelorin-test-" + std::to_string(draw(device)));
        std::error_code error;
        if (!fs::create_directory(candidate, error)) continue;
        fs::permissions(candidate, fs::perms::owner_all, error);  // as private as mkdtemp's
        path_ = candidate.string();
        return;
    }
    throw std::runtime_error("no temporary directory could be made in " + base.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}
