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
        std::random_device device;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() /
                ("pelorin-test-" + std::to_string(device()) + "-" + std::to_string(device()));
            if (fs::create_directory(candidate, error_)) path_ = candidate.string();
        }
        if (path_.empty()) throw std::runtime_error("no temporary directory made");
        fs::permissions(path_, fs::perms::owner_all, error_);  // as private as mkdtemp's
    }
    ~TempDir() { std::filesystem::remove_all(path_, error_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::error_code error_;  // of steps whose failure changes nothing
};
