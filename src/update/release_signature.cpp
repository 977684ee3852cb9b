// Release signatures: the file's format, the signed message and the Ed25519
// check through OpenSSL, which libcurl links in anyway.
#include "update/release_signature.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

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

bool allDigits(const std::string& text) {
    if (text.empty() || text.size() > 19) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
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
    unsigned y, mo, d, h, mi, s;
    char tail = 0;
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' ||
        std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
            7 ||
        tail != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) {
        return -1;
    }
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

bool parseReleaseSignature(const std::string& text, ReleaseSignature& signature) {
    std::size_t at = 0;
    std::string serial;
    if (!readField(text, at, "serial", serial) ||
        !readField(text, at, "expires", signature.expires) ||
        !readField(text, at, "signature", signature.signatureHex) || at != text.size() ||
        !allDigits(serial)) {
        return false;
    }
    signature.serial = std::stoull(serial);
    signature.expiresAt = utcSeconds(signature.expires);
    return signature.expiresAt >= 0 && signature.signatureHex.size() == 128;
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
                              unsigned long long highestAccepted, ReleaseSignature& signature) {
    // An error page in the signature's place is as good as none.
    if (!present || !parseReleaseSignature(signatureText, signature))
        return SignatureVerdict::Missing;
    if (!verifyEd25519(publicKeyHex, releaseMessage(manifest, signature.serial, signature.expires),
                       signature.signatureHex)) {
        return SignatureVerdict::NotVerified;
    }
    if (signature.expiresAt <= now) return SignatureVerdict::Expired;
    if (signature.serial < highestAccepted) return SignatureVerdict::Older;
    return SignatureVerdict::Accepted;
}
