#include "transfer/transfer_options.h"

#include <curl/curl.h>

#include <cstring>

#include "platform/platform.h"

namespace {

std::size_t writeBounded(char* data, std::size_t size, std::size_t count, void* userData) {
    BoundedFile& target = *static_cast<BoundedFile*>(userData);
    const unsigned long long bytes = static_cast<unsigned long long>(size) * count;
    if (bytes > target.limit - target.written) {
        target.limitPassed = true;
        return 0;  // libcurl ends the transfer with a write error
    }
    const std::size_t stored = std::fwrite(data, size, count, target.file);
    target.written += static_cast<unsigned long long>(stored) * size;
    return stored;
}

// The schemes a server list may name, as far as this libcurl has them: one it
// lacks would make it refuse the whole list, and with it every transfer.
const char* allowedSchemes() {
    static const std::string schemes = [] {
        std::string list;
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        for (const char* scheme : {"ftp", "sftp", "http", "https"}) {
            for (const char* const* builtIn = info->protocols; builtIn && *builtIn; ++builtIn) {
                if (std::strcmp(*builtIn, scheme) != 0) continue;
                list += (list.empty() ? "" : ",") + std::string(scheme);
                break;
            }
        }
        return list;
    }();
    return schemes.c_str();
}

}  // namespace

void applyTransferOptions(CURL* handle, const std::string& caBundlePath,
                          const TransferTimeouts& timeouts, unsigned long long byteLimit) {
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_CAINFO, caBundlePath.c_str());
    // The bundle alone: libcurl may have been built with a directory of the
    // system's CAs as its default, which it would consult besides.
    curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    // Never file://, which would copy a local file in.
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, allowedSchemes());
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, allowedSchemes());
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, timeouts.connectSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, timeouts.lowSpeedBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, timeouts.lowSpeedSeconds);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(byteLimit));
}

void writeInto(CURL* handle, BoundedFile& target) {
    target.written = 0;
    target.limitPassed = false;
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
