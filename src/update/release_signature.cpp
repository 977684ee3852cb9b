// Release signatures: the file's format, the signed message and the Ed25519
// check through OpenSSL, which libcurl links in anyway.
#include "update/release_signature.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

#include "core/text.h"

namespace {

const char* const messageHeading = "Pelorin release signature\n";

// The next line, which must end in "\n" and read "NAME VALUE"; `at` moves past it.
bool readField(const std::string& text, std::size_t& at, const std::string& name,
               std::string& value) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos || text.compare(at, name.size() + 1, name + " ") != 0)
        return false;
    value = text.substr(at + name.size() + 1, end - at - name.size() - 1);
    at = end + 1;
    return !value.empty();
}

bool leapYear(unsigned year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned daysInMonth(unsigned year, unsigned month) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

std::string hexText(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) hex += {digits[c >> 4], digits[c & 15]};
    return hex;
}

bool hexBytes(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2) return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (char c : hex.substr(i, 2)) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return false;
            value = value * 16 + digit;
        }
        bytes += static_cast<char>(value);
    }
    return true;
}

long long utcSeconds(const std::string& text) {
    // Every number in its place, digits only: no sign, blank or short field.
    const std::string form = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != form.size()) return -1;
    for (std::size_t i = 0; i < form.size(); ++i) {
        if (form[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != form[i]) return -1;
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        return static_cast<unsigned>(std::stoul(text.substr(at, length)));
    };
    const unsigned y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2),
                   mi = number(14, 2), s = number(17, 2);
    if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || s > 59)
        return -1;
    return daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

std::string utcText(long long seconds) {
    long long days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    // The inverse of daysFromCivil.
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", y, m, d, rest / 3600,
                  rest / 60 % 60, rest % 60);
    return text;
}

bool serialFromText(const std::string& text, unsigned long long& serial) {
    return plainDecimal(text, serial);
}

bool parseAcceptedRelease(const std::string& text, AcceptedRelease& accepted) {
    if (text.empty() || text.back() != '\n') return false;
    const std::string line = text.substr(0, text.size() - 1);
    const std::size_t space = line.find(' ');
    AcceptedRelease read;
    if (!serialFromText(line.substr(0, space), read.serial)) return false;
    if (space != std::string::npos) {
        read.manifestSha256 = line.substr(space + 1);
        std::string bytes;
        if (read.manifestSha256.size() != 64 || !hexBytes(read.manifestSha256, bytes) ||
            hexText(bytes) != read.manifestSha256)
            return false;
    }
    accepted = read;
    return true;
}

std::string acceptedReleaseText(const AcceptedRelease& accepted) {
    return std::to_string(accepted.serial) +
           (accepted.manifestSha256.empty() ? "" : " " + accepted.manifestSha256) + "\n";
}

bool parseReleaseSignature(const std::string& text, ReleaseSignature& signature) {
    std::size_t at = 0;
    std::string serial;
    std::string bytes;
    ReleaseSignature read;
    if (!readField(text, at, "serial", serial) || !readField(text, at, "expires", read.expires) ||
        !readField(text, at, "signature", read.signatureHex) || at != text.size() ||
        !serialFromText(serial, read.serial) || read.signatureHex.size() != 128 ||
        !hexBytes(read.signatureHex, bytes)) {
        return false;
    }
    read.expiresAt = utcSeconds(read.expires);
    if (read.expiresAt < 0) return false;
    signature = read;
    return true;
}

std::string releaseSignatureText(const ReleaseSignature& signature) {
    return "serial " + std::to_string(signature.serial) + "\nexpires " + signature.expires +
           "\nsignature " + signature.signatureHex + "\n";
}

std::string releaseMessage(const std::string& manifest, unsigned long long serial,
                           const std::string& expires) {
    return messageHeading + ("serial " + std::to_string(serial) + "\nexpires " + expires + "\n") +
           manifest;
}

std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return hexText(std::string(reinterpret_cast<char*>(digest), length));
}

bool verifyEd25519(const std::string& publicKeyHex, const std::string& message,
                   const std::string& signatureHex) {
    std::string key, signature;
    if (!hexBytes(publicKeyHex, key) || key.size() != 32 || !hexBytes(signatureHex, signature) ||
        signature.size() != 64) {
        return false;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key.data()), 32),
        EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    return pkey && context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            64, reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

SignatureVerdict judgeRelease(const std::string& publicKeyHex, const std::string& manifest,
                              bool present, const std::string& signatureText, long long now,
                              const AcceptedRelease& accepted, ReleaseSignature& signature) {
    // An error page in the signature's place is as good as none.
    if (!present || signatureText.compare(0, 7, "serial ") != 0) return SignatureVerdict::Missing;
    if (!parseReleaseSignature(signatureText, signature)) return SignatureVerdict::NotInFormat;
    if (!verifyEd25519(publicKeyHex, releaseMessage(manifest, signature.serial, signature.expires),
                       signature.signatureHex)) {
        return SignatureVerdict::NotVerified;
    }
    if (signature.expiresAt <= now) return SignatureVerdict::Expired;
    if (signature.serial < accepted.serial) return SignatureVerdict::Older;
    // Mirrors serve the same release under the same serial; another manifest
    // under it is a second release the vendor never meant to sign.
    if (signature.serial == accepted.serial && !accepted.manifestSha256.empty() &&
        sha256Hex(manifest) != accepted.manifestSha256) {
        return SignatureVerdict::OtherManifest;
    }
    return SignatureVerdict::Accepted;
}
