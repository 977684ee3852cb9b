// no_proxy, the WinHTTP bypass list and a proxy list, over "HOST\nLIST": no crash,
// and each answer in bounded time (libFuzzer's time-out ends an exponential one).
#include <string>

#include "platform/proxy_environment.h"
#include "platform/win32/windows_proxy_lists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t end = text.find('\n');
    const std::string host = text.substr(0, end);
    const std::string list = end == std::string::npos ? std::string() : text.substr(end + 1);
    platform::hostInBypassList(host, list);
    windows_proxy_lists::hostBypassed(host, list);
    for (const std::string& way : windows_proxy_lists::proxyList(list, "https"))
        if (!way.empty() && way.find("://") == std::string::npos) __builtin_trap();
    return 0;
}
