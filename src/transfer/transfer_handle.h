// One libcurl easy handle, held to the rules every transfer follows (whom to
// trust, which schemes, how slow) from the moment it is made, and freed with
// its owner. A handle carries one transfer after another: the manifest's
// also fetches its signature and the server list it announces.
#pragma once

#include <curl/curl.h>

#include <string>

#include "core/transfer_timeouts.h"
#include "transfer/transfer_options.h"

class TransferHandle {
public:
    // Peer verified against `caBundlePath` alone; only ftp, sftp, http and
    // https, also for redirects, which are not followed anyway; the time-outs.
    TransferHandle(const std::string& caBundlePath, const TransferTimeouts& timeouts);
    ~TransferHandle();
    TransferHandle(const TransferHandle&) = delete;
    TransferHandle& operator=(const TransferHandle&) = delete;

    // False when libcurl could not make a handle; nothing else may be asked then.
    explicit operator bool() const { return handle_ != nullptr; }
    CURL* get() const { return handle_; }

    // The next transfer fetches `url`; an announced length beyond `byteLimit`
    // fails it before its body.
    void aim(const std::string& url, unsigned long long byteLimit);
    // libcurl's text for the last transfer, which ended with `result` and
    // wrote into `target` (see transferErrorText).
    std::string errorText(int result, const BoundedFile& target) const;

private:
    CURL* handle_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};
