// The release engineer's side of signed releases: the key pair and the
// signature file beside a manifest. Each returns the empty text on success,
// else what went wrong.
#pragma once

#include <string>

// The private key, PEM, readable by its owner only, at `privatePath`; the
// public key, as the build takes it (64 hexadecimal digits), at
// `privatePath` + ".pub".
std::string generateReleaseKey(const std::string& privatePath);

// The signature file's text for `manifest` (its exact bytes), signed with the
// private key at `keyPath`.
std::string signRelease(const std::string& keyPath, const std::string& manifest,
                        unsigned long long serial, long long expiresAt, std::string& signatureText);

// The public key of the private key at `keyPath`, as the build takes it (64
// hexadecimal digits), so that an earlier signature made with it can be checked.
std::string releasePublicKey(const std::string& keyPath, std::string& publicKeyHex);
