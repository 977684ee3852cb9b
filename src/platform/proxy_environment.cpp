#include "platform/proxy_environment.h"

#include <algorithm>
#include <cctype>

namespace platform {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

namespace {

std::string upperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The first of `names` that is set and not empty, each tried in lower and then
// upper case; null when none is.
const char* firstSet(const EnvironmentLookup& lookup, const std::string& name, bool upperToo) {
    for (const std::string& spelling : {lowerCase(name), upperCase(name)}) {
        const char* value = lookup(spelling.c_str());
        if (value && *value) return value;
        if (!upperToo) break;
    }
    return nullptr;
}

}  // namespace

std::string urlScheme(const std::string& url) {
    const std::size_t colon = url.find("://");
    return colon == std::string::npos ? "" : lowerCase(url.substr(0, colon));
}

std::string urlHost(const std::string& url) {
    const std::size_t start = url.find("://") == std::string::npos ? 0 : url.find("://") + 3;
    std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    authority =
        authority.substr(authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
    if (!authority.empty() && authority[0] == '[')
        return lowerCase(authority.substr(1, authority.find(']') - 1));
    return lowerCase(authority.substr(0, authority.find(':')));
}

bool hostInBypassList(const std::string& host, const std::string& list) {
    const std::string name = lowerCase(host);
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = std::min(list.find_first_of(", \t", at), list.size());
        std::string entry = lowerCase(list.substr(at, end - at));
        at = end + 1;
        if (entry == "*") return true;
        if (!entry.empty() && entry[0] == '.') entry.erase(0, 1);
        if (entry.size() >= 2 && entry.front() == '[' && entry.back() == ']')
            entry = entry.substr(1, entry.size() - 2);
        if (entry.empty() || entry.size() > name.size()) continue;
        if (name == entry) return true;
        if (name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
            name[name.size() - entry.size() - 1] == '.')
            return true;
    }
    return false;
}

bool proxyFromEnvironment(const std::string& url, const EnvironmentLookup& lookup,
                          std::string& proxy) {
    const std::string scheme = urlScheme(url);
    // A CGI program gets the request's "Proxy:" header as HTTP_PROXY.
    const char* value = firstSet(lookup, scheme + "_proxy", scheme != "http");
    if (!value) value = firstSet(lookup, "all_proxy", true);
    if (!value) return false;
    const char* bypass = firstSet(lookup, "no_proxy", true);
    const bool direct = bypass && hostInBypassList(urlHost(url), bypass);
    proxy = direct ? "" : value;
    // libcurl takes a bare "host:port" as an HTTP proxy; the log names it so.
    if (!direct && proxy.find("://") == std::string::npos) proxy = "http://" + proxy;
    return true;
}

}  // namespace platform
