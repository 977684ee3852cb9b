// No system-wide proxy setting exists here beyond the environment.
#include <cstdlib>

#include "platform/platform.h"
#include "platform/proxy_environment.h"

namespace platform {

ProxyWays proxiesFor(const std::string& url) {
    std::string proxy;
    proxyFromEnvironment(
        url, [](const char* name) { return std::getenv(name); }, proxy);
    return {{proxy}, false};
}

}  // namespace platform
