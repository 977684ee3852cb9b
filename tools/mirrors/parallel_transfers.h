// Many transfers at once through libcurl's multi interface, each held to the
// updater's own transfer rules (transfer/transfer_handle.h).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "transfer/transfer_options.h"

// One transfer: what to fetch, and after the run what came of it.
struct Transfer {
    std::string url;
    // Where the body goes; empty asks for the headers only (HEAD), enough to
    // see a resource is there and how large it says it is.
    std::string filePath;
    unsigned long long byteLimit = 0;  // announced or received, as the updater caps it

    bool succeeded = false;         // libcurl reported no error
    std::string error;              // libcurl's text when it did
    long responseCode = 0;          // the server's status (HTTP) or last reply (FTP)
    long long announcedBytes = -1;  // the length the server announced, -1 when none
    unsigned long long receivedBytes = 0;
    double seconds = 0;  // from the start of the connection to the end
};

struct TransferSettings {
    std::string caBundlePath;
    TransferTimeouts timeouts;
    std::size_t parallel = 16;  // transfers running at once, at least 1
    // Every transfer through this proxy; when empty, through the first way
    // the updater itself would take to each URL (the environment's proxy).
    std::string proxy;
};

// Runs every transfer, at most `settings.parallel` at once, each in a fresh
// easy handle. `finished` is called with each transfer as it ends, its file
// closed, in the order they end. Returns false only when libcurl's multi
// handle could not be made; every transfer then stays unsucceeded.
bool runTransfers(std::vector<Transfer>& transfers, const TransferSettings& settings,
                  const std::function<void(Transfer&)>& finished);
