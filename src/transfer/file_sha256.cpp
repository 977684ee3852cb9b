#include "transfer/file_sha256.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "platform/stdio_file.h"

std::string fileSha256Hex(const std::string& path) {
    StdioFile file(path, "rb");
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest(EVP_MD_CTX_new(),
                                                                   EVP_MD_CTX_free);
    if (!file || !digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1)
        return std::string();
    std::vector<unsigned char> buffer(1 << 16);
    std::size_t read;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        EVP_DigestUpdate(digest.get(), buffer.data(), read);
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (std::ferror(file.get()) || EVP_DigestFinal_ex(digest.get(), bytes, &length) != 1)
        return std::string();
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return hex;
}
