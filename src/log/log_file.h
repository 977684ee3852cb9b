// The open update log: a stdio stream the platform opened for it (see
// platform::openLogFile), written line by line and closed by its owner.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/stdio_file.h"

class LogFile {
public:
    // Takes `file`, which may be null: the log could not be opened.
    explicit LogFile(std::FILE* file) : file_(file) {}

    bool isOpen() const { return static_cast<bool>(file_); }
    // Write errors are not reported: the log has nowhere to report them.
    void write(const char* bytes, std::size_t count);
    void flush();
    void close() { file_.close(); }

private:
    StdioFile file_;
};
