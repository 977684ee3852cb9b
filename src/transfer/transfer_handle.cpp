#include "transfer/transfer_handle.h"

#include <cstring>

namespace {

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

void applyRules(CURL* handle, const std::string& caBundlePath, const TransferTimeouts& timeouts) {
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
}

}  // namespace

TransferHandle::TransferHandle(const std::string& caBundlePath, const TransferTimeouts& timeouts)
    : handle_(curl_easy_init()) {
    if (!handle_) return;
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer_);
    applyRules(handle_, caBundlePath, timeouts);
}

TransferHandle::~TransferHandle() {
    if (handle_) curl_easy_cleanup(handle_);
}

void TransferHandle::aim(const std::string& url, unsigned long long byteLimit) {
    curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(byteLimit));
}

std::string TransferHandle::errorText(int result, const BoundedFile& target) const {
    return transferErrorText(result, errorBuffer_, target);
}
