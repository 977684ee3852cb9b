// Signed releases: "UpdateWin.xml.sig" stands beside every manifest and holds
// three lines,
//   serial N
//   expires YYYY-MM-DDTHH:MM:SSZ
//   signature <128 hexadecimal digits>
// The Ed25519 signature covers releaseMessage(): a fixed heading, the serial
// and expiry lines as written, then the manifest's exact bytes. A serial only
// grows from one release to the next, so an older signed release is told
// from a newer one; the expiry ends the life of a release a mirror holds on to.
#pragma once

#include <string>

// The signature file is a few hundred bytes.
constexpr unsigned long long releaseSignatureByteLimit = 4096;

struct ReleaseSignature {
    unsigned long long serial = 0;
    std::string expires;      // as written
    long long expiresAt = 0;  // seconds since 1970-01-01 UTC
    std::string signatureHex;
};

enum class SignatureVerdict {
    Accepted,
    Missing,      // nothing served, or what was served is no signature file (an error page)
    NotInFormat,  // a signature file that breaks its format
    NotVerified,
    Expired,
    Older,          // a serial below the accepted one
    OtherManifest,  // the accepted serial over other manifest bytes
};

// What this installation accepted last (ReleaseSerial.txt): its serial and the
// SHA-256 of the manifest, 64 lower-case hexadecimal digits (empty in a file
// written before the hash was kept; an equal serial is then taken as the same
// release).
struct AcceptedRelease {
    unsigned long long serial = 0;
    std::string manifestSha256;
};
// "N\n" or "N SHA256\n", N a serial as `serialFromText` reads it.
bool parseAcceptedRelease(const std::string& text, AcceptedRelease& accepted);
std::string acceptedReleaseText(const AcceptedRelease& accepted);

// Decimal digits, no leading zero but for "0" itself, at most 18 of them.
bool serialFromText(const std::string& text, unsigned long long& serial);

// False for anything but the three lines, in that order, each ending in "\n",
// with a serial as `serialFromText` reads it, an expiry in the exact form on a
// day that exists, and 128 hexadecimal digits.
bool parseReleaseSignature(const std::string& text, ReleaseSignature& signature);
std::string releaseSignatureText(const ReleaseSignature& signature);
std::string releaseMessage(const std::string& manifest, unsigned long long serial,
                           const std::string& expires);
// `publicKeyHex`: the raw 32-byte key in 64 hexadecimal digits.
bool verifyEd25519(const std::string& publicKeyHex, const std::string& message,
                   const std::string& signatureHex);
// "YYYY-MM-DDTHH:MM:SSZ" and seconds since 1970 UTC; -1 for a malformed text
// or a day the month does not have.
long long utcSeconds(const std::string& text);
std::string utcText(long long seconds);
std::string hexText(const std::string& bytes);
// SHA-256 of `bytes` in 64 lower-case hexadecimal digits.
std::string sha256Hex(const std::string& bytes);
bool hexBytes(const std::string& hex, std::string& bytes);

// The whole judgement of a release: `signatureText` as served (`present`
// false when nothing could be fetched), `now` in seconds since 1970 UTC.
// `signature` receives the parsed file.
SignatureVerdict judgeRelease(const std::string& publicKeyHex, const std::string& manifest,
                              bool present, const std::string& signatureText, long long now,
                              const AcceptedRelease& accepted, ReleaseSignature& signature);
