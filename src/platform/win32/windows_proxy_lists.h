// The proxy texts that WinHTTP hands over, read into the updater's terms. Pure
// text, built on every platform so that they are tested on Linux too.
#pragma once

#include <string>
#include <vector>

namespace windows_proxy_lists {

// The ways to try for a URL of `scheme`, in order, from a proxy list as the
// Internet settings, WinHTTP or a proxy script give it: entries separated by
// ';' (or white space between plain entries), each "host:port", "scheme=
// host:port" (kept only for `scheme`), "http://host:port", a script's
// "PROXY host:port" (or HTTPS, SOCKS, SOCKS5), or "DIRECT" (the empty text). A bare address becomes
// "http://host:port".
std::vector<std::string> proxyList(const std::string& text, const std::string& scheme);

// True when `host` is named in a bypass list: entries separated by ';' or white
// space, '*' matching any run of characters and '?' any one, in at most pattern
// × name steps, letter case ignored, a leading
// "scheme://" ignored; "<local>" names every host without a dot.
bool hostBypassed(const std::string& host, const std::string& list);

}  // namespace windows_proxy_lists
