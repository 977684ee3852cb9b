// A fresh private directory under the system's temporary folder, removed with all it holds.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

class TempDir {
public:
    TempDir() {
        // A random name, drawn again when taken: create_directory says whether it made it.
        namespace fs = std::filesystem;
        const fs::path base = fs::temp_directory_path();
        std::random_device device;
        std::error_code error;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate = base / ("pelorin-test-" + std::to_string(device()) + "-" +
                                               std::to_string(device()));
            if (fs::create_directory(candidate, error)) path_ = candidate.string();
        }
        if (path_.empty()) throw std::runtime_error("no temporary directory in " + base.string());
        fs::permissions(path_, fs::perms::owner_all, error);  // as private as mkdtemp's
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
