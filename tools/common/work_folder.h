// A fresh folder of a release tool's own in the temporary directory, for what
// it fetches or unpacks; removed with all it holds when the object goes.
#pragma once

#include <string>

class WorkFolder {
public:
    // Named `prefix` and a random number; path() is empty when none could be
    // made.
    explicit WorkFolder(const std::string& prefix);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside it.
    std::string file(const std::string& name) const;

private:
    std::string path_;
};
