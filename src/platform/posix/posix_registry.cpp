// The registry stand-in: a directory tree under a root folder, one folder per
// key and one file per string value, with the two hives as top folders.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/platform.h"

namespace {

constexpr std::size_t registryValueBufferSize = 260;

std::string registryRoot() {
    const char* root = std::getenv("PELORIN_REGISTRY_ROOT");
    return root && *root ? root : "/var/lib/pelorin/registry";
}

// Key paths use the registry's backslash; each piece becomes one folder.
std::string keyDirectory(platform::Hive hive, const std::string& keyPath) {
    std::string directory =
        registryRoot() + "/" +
        (hive == platform::Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE");
    std::string piece;
    for (char c : keyPath + "\\") {
        if (c != '\\') {
            piece += c;
        } else if (!piece.empty()) {
            directory += "/" + piece;
            piece.clear();
        }
    }
    return directory;
}

}  // namespace

namespace platform {

bool registryKeyExists(Hive hive, const std::string& keyPath) {
    struct stat status;
    return ::stat(keyDirectory(hive, keyPath).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool readRegistryString(Hive hive, const std::string& keyPath, const std::string& valueName,
                        std::string& value) {
    if (!registryKeyExists(hive, keyPath)) return false;
    std::ifstream valueFile(keyDirectory(hive, keyPath) + "/" + valueName, std::ios::binary);
    if (!valueFile) return false;
    std::string text((std::istreambuf_iterator<char>(valueFile)), std::istreambuf_iterator<char>());
    // A value written by hand with echo ends in a line end that is not part of it.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    // The terminator must fit the buffer too, as with RegQueryValueExA.
    if (text.size() + 1 > registryValueBufferSize) return false;
    value = text;
    return true;
}

}  // namespace platform
