// The download of a file whose whole hash a manifest names: the installer
// package beside the updater, or any other such file. What arrives is kept
// and resumed (resumable_download.h); the hash itself is checked by the
// caller, before anything is unpacked.
#pragma once

#include <string>

#include "transfer/transfer_options.h"

class UpdaterContext;

// True when the file at `url` arrived whole at `destination`, held to
// `byteLimit`; the lines and the state as a Download sets them, and one line
// for each resumed transfer.
bool downloadHashedFile(UpdaterContext& context, const std::string& url,
                        const std::string& expectedHash, const std::string& destination,
                        unsigned long long byteLimit = packageByteLimit);

// downloadHashedFile into the package's place beside the updater.
bool downloadPackage(UpdaterContext& context, const std::string& url,
                     const std::string& expectedHash);
// The same for a delta file, into Pelorin.delta beside the package's place,
// held to the package's caps and to the size its manifest announced.
bool downloadDelta(UpdaterContext& context, const std::string& url, const std::string& expectedHash,
                   unsigned long long announcedBytes);
