// The downloaded package against the hash its manifest publishes.
#pragma once

class UpdaterContext;

// True when the package's SHA-1 text equals the manifest's "Hash" exactly
// (servers publish upper case; any other spelling is a mismatch).
bool validatePackage(UpdaterContext& context);
