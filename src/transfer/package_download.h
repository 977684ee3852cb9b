// The installer package's download, beside the updater.
#pragma once

#include <string>

class UpdaterContext;

// True when the package at `url` arrived whole; the lines and the state as a
// Download sets them.
bool downloadPackage(UpdaterContext& context, const std::string& url);
// The same for a delta file, into Pelorin.delta beside the package's place,
// held to the package's caps and to the size its manifest announced.
bool downloadDelta(UpdaterContext& context, const std::string& url,
                   unsigned long long announcedBytes);
