// Ed25519 key pairs and release signatures through OpenSSL.
#include "publish/release_signing.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/stdio_file.h"
#include "update/release_signature.h"

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return static_cast<bool>(file);
}

// The Ed25519 private key at `keyPath` into `key`; else what went wrong.
std::string readPrivateKey(const std::string& keyPath, Key& key) {
    StdioFile file(keyPath, "rb");
    if (!file) return "cannot read \"" + keyPath + "\"";
    key.reset(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519)
        return "\"" + keyPath + "\" holds no Ed25519 private key";
    return std::string();
}

}  // namespace

std::string generateReleaseKey(const std::string& privatePath) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* made = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_keygen(context.get(), &made) != 1) {
        return "cannot make a key pair";
    }
    const Key key(made, EVP_PKEY_free);
    unsigned char publicKey[32];
    std::size_t length = sizeof publicKey;
    if (EVP_PKEY_get_raw_public_key(key.get(), publicKey, &length) != 1 || length != 32)
        return "cannot read the public key";
    if (std::filesystem::exists(privatePath)) return "\"" + privatePath + "\" exists already";
    // Empty and closed to all but its owner before the key goes in.
    namespace fs = std::filesystem;
    if (!writeText(privatePath, "")) return "cannot write \"" + privatePath + "\"";
    std::error_code error;
    fs::permissions(privatePath, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, error);
    StdioFile file;
    const bool written =
        !error && file.open(privatePath, "wb") &&
        PEM_write_PrivateKey(file.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (!file.close() || !written) {
        std::remove(privatePath.c_str());
        return "cannot write \"" + privatePath + "\"";
    }
    const std::string publicText =
        hexText(std::string(reinterpret_cast<const char*>(publicKey), 32)) + "\n";
    return writeText(privatePath + ".pub", publicText) ? std::string()
                                                       : "cannot write \"" + privatePath + ".pub\"";
}

std::string signRelease(const std::string& keyPath, const std::string& manifest,
                        unsigned long long serial, long long expiresAt,
                        std::string& signatureText) {
    Key key(nullptr, EVP_PKEY_free);
    const std::string problem = readPrivateKey(keyPath, key);
    if (!problem.empty()) return problem;
    ReleaseSignature signature;
    signature.serial = serial;
    signature.expires = utcText(expiresAt);
    const std::string message = releaseMessage(manifest, serial, signature.expires);
    unsigned char bytes[64];
    std::size_t length = sizeof bytes;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), bytes, &length,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
        return "cannot sign with \"" + keyPath + "\"";
    }
    signature.signatureHex = hexText(std::string(reinterpret_cast<const char*>(bytes), length));
    signatureText = releaseSignatureText(signature);
    return std::string();
}

std::string releasePublicKey(const std::string& keyPath, std::string& publicKeyHex) {
    Key key(nullptr, EVP_PKEY_free);
    const std::string problem = readPrivateKey(keyPath, key);
    if (!problem.empty()) return problem;
    unsigned char publicKey[32];
    std::size_t length = sizeof publicKey;
    if (EVP_PKEY_get_raw_public_key(key.get(), publicKey, &length) != 1 || length != 32)
        return "cannot read the public key of \"" + keyPath + "\"";
    publicKeyHex = hexText(std::string(reinterpret_cast<const char*>(publicKey), length));
    return std::string();
}
