#include "log/log_file.h"

void LogFile::write(const char* bytes, std::size_t count) {
    if (file_) std::fwrite(bytes, 1, count, file_.get());
}

void LogFile::flush() {
    if (file_) std::fflush(file_.get());
}
