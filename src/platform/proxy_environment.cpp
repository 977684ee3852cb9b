#include "platform/proxy_environment.h"

#include <algorithm>
#include <cctype>
#include <vector>

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

namespace {

// A dotted quad as inet_pton takes it: four decimal parts up to 255, no
// leading zero.
bool ipv4Bytes(const std::string& text, unsigned char (&bytes)[4]) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t end = part < 3 ? text.find('.', at) : text.size();
        const std::string digits = text.substr(at, end - at);
        if (end == std::string::npos || digits.empty() || digits.size() > 3 ||
            digits.find_first_not_of("0123456789") != std::string::npos ||
            (digits.size() > 1 && digits[0] == '0') || std::stoi(digits) > 255)
            return false;
        bytes[part] = static_cast<unsigned char>(std::stoi(digits));
        at = end + 1;
    }
    return true;
}

// The 16-bit groups of `part` ("1:2:3"), a dotted quad allowed last when
// `quadLast`; true for an empty part.
bool ipv6Groups(const std::string& part, bool quadLast, std::vector<unsigned>& groups) {
    for (std::size_t at = 0; !part.empty();) {
        const std::size_t end = part.find(':', at);
        const std::string group = part.substr(at, end == std::string::npos ? end : end - at);
        unsigned char quad[4];
        if (end == std::string::npos && quadLast && group.find('.') != std::string::npos) {
            if (!ipv4Bytes(group, quad)) return false;
            groups.push_back(quad[0] << 8 | quad[1]), groups.push_back(quad[2] << 8 | quad[3]);
            return true;
        }
        if (group.empty() || group.size() > 4 ||
            group.find_first_not_of("0123456789abcdef") != std::string::npos)
            return false;
        groups.push_back(static_cast<unsigned>(std::stoul(group, nullptr, 16)));
        if (end == std::string::npos) return true;
        at = end + 1;
    }
    return true;
}

// An IPv6 address in its text forms (lower case; "::" at most once, a dotted
// quad last).
bool ipv6Bytes(const std::string& text, unsigned char (&bytes)[16]) {
    const std::size_t gap = text.find("::");
    if (gap != std::string::npos && text.find("::", gap + 1) != std::string::npos) return false;
    std::vector<unsigned> head, tail;
    const bool gapped = gap != std::string::npos;
    if (!ipv6Groups(text.substr(0, gap), !gapped, head) ||
        (gapped && !ipv6Groups(text.substr(gap + 2), true, tail)))
        return false;
    if (gapped ? head.size() + tail.size() > 7 : head.size() != 8) return false;
    head.resize(8 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
    for (int group = 0; group < 8; ++group) {
        bytes[2 * group] = static_cast<unsigned char>(head[group] >> 8);
        bytes[2 * group + 1] = static_cast<unsigned char>(head[group] & 0xff);
    }
    return true;
}

// `address` within `entry` ("network" or "network/bits"); bits 0 or none: the
// whole address.
template <std::size_t size>
bool inRange(const std::string& address, std::string entry,
             bool (*parse)(const std::string&, unsigned char (&)[size])) {
    unsigned bits = size * 8;
    const std::size_t slash = entry.find('/');
    if (slash != std::string::npos) {
        const std::string count = entry.substr(slash + 1);
        entry.erase(slash);
        if (count.empty() || count.size() > 3 ||
            count.find_first_not_of("0123456789") != std::string::npos)
            return false;
        bits = static_cast<unsigned>(std::stoul(count));
        if (bits == 0) bits = size * 8;
    }
    unsigned char host[size], network[size];
    if (bits > size * 8 || !parse(address, host) || !parse(entry, network)) return false;
    for (unsigned bit = 0; bit < bits; ++bit) {
        const unsigned char mask = static_cast<unsigned char>(0x80 >> (bit % 8));
        if ((host[bit / 8] & mask) != (network[bit / 8] & mask)) return false;
    }
    return true;
}

}  // namespace

bool hostInBypassList(const std::string& host, const std::string& list) {
    if (list == "*") return true;
    std::string name = lowerCase(host);
    unsigned char quad[4];
    const bool ipv4 = ipv4Bytes(name, quad), ipv6 = name.find(':') != std::string::npos;
    if (!ipv4 && !ipv6 && !name.empty() && name.back() == '.') name.pop_back();
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = std::min(list.find_first_of(", \t", at), list.size());
        std::string entry = lowerCase(list.substr(at, end - at));
        at = end + 1;
        if (entry.empty()) continue;
        if (ipv4 || ipv6) {
            if (ipv4 ? inRange<4>(name, entry, ipv4Bytes) : inRange<16>(name, entry, ipv6Bytes))
                return true;
            continue;
        }
        if (entry.back() == '.') entry.pop_back();
        if (!entry.empty() && entry[0] == '.') entry.erase(0, 1);
        if (entry.size() > name.size()) continue;
        if (name == entry) return true;
        if (entry.size() < name.size() &&
            name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
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
