#include "platform/stdio_file.h"

#include <utility>

#include "platform/platform.h"

StdioFile::StdioFile(const std::string& path, const char* mode)
    : file_(platform::openFile(path, mode)) {}

bool StdioFile::open(const std::string& path, const char* mode) {
    close();
    file_ = platform::openFile(path, mode);
    return file_ != nullptr;
}

bool StdioFile::close() {
    std::FILE* file = std::exchange(file_, nullptr);
    return !file || std::fclose(file) == 0;
}

bool readWholeFile(const std::string& path, std::string& text) {
    text.clear();
    StdioFile file(path, "rb");
    if (!file) return false;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, count);
    return !std::ferror(file.get());
}

bool replaceFileWithText(const std::string& path, const std::string& temporaryPath,
                         const std::string& text) {
    StdioFile file(temporaryPath, "wb");
    if (!file) return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    written = platform::flushToDisk(file.get()) && written;
    written = file.close() && written;
    if (written && platform::replaceFile(temporaryPath, path)) return true;
    std::remove(temporaryPath.c_str());
    return false;
}
