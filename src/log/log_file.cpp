#include "log/log_file.h"

#include <utility>

void LogFile::write(const char* bytes, std::size_t count) {
    if (file_) std::fwrite(bytes, 1, count, file_);
}

void LogFile::flush() {
    if (file_) std::fflush(file_);
}

void LogFile::close() {
    if (std::FILE* file = std::exchange(file_, nullptr)) std::fclose(file);
}
