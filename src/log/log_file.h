// The open update log: a stdio stream the platform opened for it (see
// platform::openLogFile), written line by line and closed by its owner.
#pragma once

#include <cstddef>
#include <cstdio>

class LogFile {
public:
    // Takes `file`, which may be null: the log could not be opened.
    explicit LogFile(std::FILE* file) : file_(file) {}
    ~LogFile() { close(); }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    // Write errors are not reported: the log has nowhere to report them.
    void write(const char* bytes, std::size_t count);
    void flush();
    void close();

private:
    std::FILE* file_;
};
