// The registry, read only, through the ANSI calls.
#include <windows.h>

#include "platform/platform.h"

namespace {

constexpr DWORD registryValueBufferSize = 260;

class RegistryKey {
public:
    RegistryKey(platform::Hive hive, const std::string& keyPath) {
        const HKEY root =
            hive == platform::Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

namespace platform {

bool registryKeyExists(Hive hive, const std::string& keyPath) {
    return RegistryKey(hive, keyPath).get() != nullptr;
}

bool readRegistryString(Hive hive, const std::string& keyPath, const std::string& valueName,
                        std::string& value) {
    RegistryKey key(hive, keyPath);
    if (!key.get()) return false;
    char buffer[registryValueBufferSize] = {};
    DWORD size = registryValueBufferSize;
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(buffer), &size) != ERROR_SUCCESS) {
        return false;
    }
    // A value stored without its terminator may fill the buffer exactly.
    buffer[registryValueBufferSize - 1] = '\0';
    value = buffer;
    return true;
}

}  // namespace platform
