// The installer package's download, beside the updater.
#pragma once

#include <string>

class UpdaterContext;

// True when the package at `url` arrived whole; the lines and the state as a
// Download sets them.
bool downloadPackage(UpdaterContext& context, const std::string& url);
