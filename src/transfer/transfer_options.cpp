#include "transfer/transfer_options.h"

#include <curl/curl.h>

#include "platform/platform.h"

namespace {

std::size_t writeBounded(char* data, std::size_t size, std::size_t count, void* userData) {
    BoundedFile& target = *static_cast<BoundedFile*>(userData);
    if (!target.bodyStarted) {
        target.bodyStarted = true;
        if (target.beforeBody && !target.beforeBody(target.owner)) return 0;
    }
    const unsigned long long bytes = static_cast<unsigned long long>(size) * count;
    if (bytes > target.limit - target.written) {
        target.limitPassed = true;
        return 0;  // libcurl ends the transfer with a write error
    }
    const std::size_t stored = std::fwrite(data, size, count, target.file);
    target.written += static_cast<unsigned long long>(stored) * size;
    return stored;
}

}  // namespace

void writeInto(CURL* handle, BoundedFile& target) {
    target.written = 0;
    target.limitPassed = false;
    target.bodyStarted = false;
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &writeBounded);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &target);
}

std::string transferErrorText(int result, const char* errorBuffer, const BoundedFile& target) {
    if (target.limitPassed) return curl_easy_strerror(CURLE_FILESIZE_EXCEEDED);
    if (errorBuffer && errorBuffer[0]) return errorBuffer;
    return curl_easy_strerror(static_cast<CURLcode>(result));
}

unsigned long long freeBytesOr(const std::string& directory, unsigned long long fallback) {
    unsigned long long freeBytes = 0;
    return platform::freeDiskBytes(directory, freeBytes) ? freeBytes : fallback;
}
