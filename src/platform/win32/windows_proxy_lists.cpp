#include "platform/win32/windows_proxy_lists.h"

#include <algorithm>

#include "platform/proxy_environment.h"

namespace windows_proxy_lists {

using platform::lowerCase;

namespace {

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Pieces between any of `separators`, trimmed, the empty ones left out.
std::vector<std::string> pieces(const std::string& text, const char* separators) {
    std::vector<std::string> result;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find_first_of(separators, at), text.size());
        const std::string piece = trimmed(text.substr(at, end - at));
        if (!piece.empty()) result.push_back(piece);
        at = end + 1;
    }
    return result;
}

bool wildcardMatch(const std::string& pattern, const std::string& text) {
    // Only the last '*' is ever returned to: whatever an earlier one took, the
    // later one can take too. At most pattern × text steps, never exponential.
    std::size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++, resume = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p, ++t;
        } else if (star != std::string::npos) {
            p = star + 1, t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// The scheme of a proxy script's keyword ("PROXY host:port"), or null.
const char* scriptKind(const std::string& keyword) {
    if (keyword == "proxy" || keyword == "http") return "http://";
    if (keyword == "https") return "https://";
    if (keyword == "socks" || keyword == "socks4") return "socks4://";
    return keyword == "socks5" ? "socks5://" : nullptr;
}

}  // namespace

std::vector<std::string> proxyList(const std::string& text, const std::string& scheme) {
    std::vector<std::string> scoped, plain;
    for (const std::string& entry : pieces(text, ";")) {
        // A proxy script's form: keyword, then the address.
        const std::vector<std::string> words = pieces(entry, " \t");
        const std::string keyword = lowerCase(words[0]);
        if (keyword == "direct") {
            plain.push_back("");
            continue;
        }
        if (words.size() == 2 && scriptKind(keyword)) {
            plain.push_back(std::string(scriptKind(keyword)) + words[1]);
            continue;
        }
        for (std::string address : words) {
            const std::size_t equals = address.find('=');
            std::vector<std::string>* into = &plain;
            if (equals != std::string::npos) {
                if (lowerCase(address.substr(0, equals)) != scheme) continue;
                address = address.substr(equals + 1), into = &scoped;
            }
            if (address.empty()) continue;
            into->push_back(address.find("://") == std::string::npos ? "http://" + address
                                                                     : address);
        }
    }
    return scoped.empty() ? plain : scoped;
}

bool hostBypassed(const std::string& host, const std::string& list) {
    const std::string name = lowerCase(host);
    for (std::string entry : pieces(list, "; \t")) {
        entry = lowerCase(entry);
        if (entry == "<local>") {
            if (name.find('.') == std::string::npos) return true;
            continue;
        }
        if (entry.find("://") != std::string::npos) entry = entry.substr(entry.find("://") + 3);
        if (wildcardMatch(entry, name)) return true;
    }
    return false;
}

}  // namespace windows_proxy_lists
