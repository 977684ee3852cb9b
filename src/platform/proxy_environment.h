// The proxy that the environment names for a URL, read as libcurl reads it:
// "<scheme>_proxy" (for http the lower-case name only), then "all_proxy", each
// also in upper case; "no_proxy" names the hosts that go direct. Both builds
// ask the environment first.
#pragma once

#include <functional>
#include <string>

namespace platform {

// A variable's value, or null when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// True when the environment decides for `url`: `proxy` is then the proxy URL,
// or the empty text when "no_proxy" sends the host direct. False when no
// proxy variable applies, and `proxy` is untouched.
bool proxyFromEnvironment(const std::string& url, const EnvironmentLookup& lookup,
                          std::string& proxy);

// True when `host` matches the list, "no_proxy"'s form, as libcurl 7.88 reads
// it: entries separated by commas or blanks; the whole list "*" matches every
// host. A host name matches an entry naming it or a domain above it (a
// leading or trailing '.' changes nothing, letter case is ignored); an IPv4
// or IPv6 address matches an address equal to it or a range "address/bits".
bool hostInBypassList(const std::string& host, const std::string& list);

// The scheme (lower case) and the host (without brackets, port or user) of `url`.
std::string urlScheme(const std::string& url);
std::string urlHost(const std::string& url);

// `text` with its letters in lower case, byte by byte.
std::string lowerCase(std::string text);

}  // namespace platform
