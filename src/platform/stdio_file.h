// A stdio stream the platform opened, closed with its owner on every way out.
#pragma once

#include <cstdio>
#include <string>

class StdioFile {
public:
    StdioFile() = default;
    // platform::openFile; null (see get) when it failed.
    StdioFile(const std::string& path, const char* mode);
    // Takes a stream opened elsewhere, which may be null.
    explicit StdioFile(std::FILE* file) : file_(file) {}
    ~StdioFile() { close(); }
    StdioFile(const StdioFile&) = delete;
    StdioFile& operator=(const StdioFile&) = delete;

    // Closes what it holds, then opens `path`; false when that failed.
    bool open(const std::string& path, const char* mode);

    std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    // True when the last buffered bytes reached the file, or nothing was open.
    bool close();

private:
    std::FILE* file_ = nullptr;
};

// The whole file into `text`; false when it cannot be opened or read to its end.
bool readWholeFile(const std::string& path, std::string& text);

// Writes `text` to `temporaryPath`, puts it on the disk and renames it over
// `path` in one step, so that whoever reads `path`, even after a crash, finds
// the old text or the new one. False, and the temporary file gone, when any
// step failed; `path` is then untouched.
bool replaceFileWithText(const std::string& path, const std::string& temporaryPath,
                         const std::string& text);
