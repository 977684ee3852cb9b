#include "transfer/file_hash.h"

#include "platform/platform.h"
#include "transfer/sha1_hasher.h"

std::string hashFileToHex(const std::string& path) {
    if (!platform::fileStatus(path).exists) return std::string();

    Sha1Hasher hasher;
    hasher.reset();
    if (!hasher.hashFile(platform::widenPath(path))) return std::string();
    hasher.finalize();

    std::wstring text;
    hasher.reportHash(text);
    // The digits are ASCII, so narrowing each character keeps the text.
    return std::string(text.begin(), text.end());
}

bool fileMatchesHash(const std::string& path, const std::string& expected) {
    const std::string hash = hashFileToHex(path);
    return !hash.empty() && hash == expected;
}
