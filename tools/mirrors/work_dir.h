// A directory of the tool's own under the temporary directory, for the
// manifests and packages it fetches; removed with everything in it.
#pragma once

#include <string>

class WorkDir {
public:
    // Creates it; path() is empty when no directory could be made.
    WorkDir();
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside it.
    std::string file(const std::string& name) const;

private:
    std::string path_;
};
