#include "publish/file_sha256.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "platform/stdio_file.h"
#include "update/release_signature.h"

std::string fileSha256Hex(const std::string& path) {
    StdioFile file(path, "rb");
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::string();
    std::vector<unsigned char> buffer(64 * 1024);
    std::size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        if (EVP_DigestUpdate(context.get(), buffer.data(), count) != 1) return std::string();
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (std::ferror(file.get()) || EVP_DigestFinal_ex(context.get(), digest, &length) != 1 ||
        length != 32)
        return std::string();
    return hexText(std::string(reinterpret_cast<const char*>(digest), length));
}
