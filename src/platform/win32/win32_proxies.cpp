// The proxy the machine is set to use: the environment first, then the
// user's Internet settings (a static proxy, a proxy script or automatic
// detection), then the machine's WinHTTP setting, which is all a run as
// SYSTEM has.
#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <map>

#include "platform/platform.h"
#include "platform/proxy_environment.h"
#include "platform/win32/windows_proxy_lists.h"

namespace {

using windows_proxy_lists::hostBypassed;
using windows_proxy_lists::proxyList;

std::string narrow(const wchar_t* text) {
    if (!text || !*text) return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

// WinHTTP hands over its texts for the caller to free.
class GlobalText {
public:
    GlobalText() = default;
    GlobalText(const GlobalText&) = delete;
    GlobalText& operator=(const GlobalText&) = delete;
    ~GlobalText() {
        if (text) GlobalFree(text);
    }
    std::string get() const { return narrow(text); }
    LPWSTR text = nullptr;
};

struct ProxyInfo {
    DWORD accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    GlobalText proxy, bypass;
    void fill(const WINHTTP_PROXY_INFO& info) {
        accessType = info.dwAccessType;
        proxy.text = info.lpszProxy;
        bypass.text = info.lpszProxyBypass;
    }
};

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_) WinHttpCloseHandle(handle_);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }

private:
    HINTERNET handle_;
};

// The ways a named proxy and its bypass list give for `url`; empty for none.
std::vector<std::string> namedProxies(const std::string& url, const std::string& proxy,
                                      const std::string& bypass) {
    if (proxy.empty()) return {};
    if (hostBypassed(platform::urlHost(url), bypass)) return {""};
    return proxyList(proxy, platform::urlScheme(url));
}

bool runsAsSystem() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    alignas(8) unsigned char buffer[256];
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    return read &&
           IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
}

// One WinHTTP session for the run's discovery, with time-outs of its own: a
// configuration server that never answers costs seconds, not minutes, and
// only once a run.
HINTERNET discoverySession() {
    static const InternetHandle session([] {
        const HINTERNET handle = WinHttpOpen(L"PelorinAutoUpdate", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        if (handle) WinHttpSetTimeouts(handle, 5000, 5000, 5000, 5000);
        return handle;
    }());
    return session.get();
}

// What discovery found in this run: the ways for each scheme and host, and
// which kind of discovery failed, so that none is asked twice.
struct DiscoveryMemory {
    std::map<std::string, std::vector<std::string>> waysByHost;
    bool scriptFailed = false, detectionFailed = false;
};

DiscoveryMemory& discoveryMemory() {
    static DiscoveryMemory memory;
    return memory;
}

// Asks without the account's credentials first: a configuration server gets
// them only once it has asked for them.
bool askForProxy(const std::wstring& url, WINHTTP_AUTOPROXY_OPTIONS& options,
                 WINHTTP_PROXY_INFO& answer) {
    options.fAutoLogonIfChallenged = FALSE;
    if (WinHttpGetProxyForUrl(discoverySession(), url.c_str(), &options, &answer)) return true;
    if (GetLastError() != ERROR_WINHTTP_LOGIN_FAILURE) return false;
    options.fAutoLogonIfChallenged = TRUE;
    return WinHttpGetProxyForUrl(discoverySession(), url.c_str(), &options, &answer);
}

// What a proxy script, named or found by detection, answers for `url`.
std::vector<std::string> scriptProxies(const std::string& url, const wchar_t* scriptUrl,
                                       bool detect) {
    DiscoveryMemory& memory = discoveryMemory();
    const std::string host = platform::urlScheme(url) + "://" + platform::urlHost(url);
    const auto known = memory.waysByHost.find(host);
    if (known != memory.waysByHost.end()) return known->second;
    std::vector<std::string>& ways = memory.waysByHost[host];
    if (!discoverySession()) return ways;
    const std::wstring wideUrl = platform::widenPath(url);
    for (const bool byUrl : {true, false}) {
        bool& failed = byUrl ? memory.scriptFailed : memory.detectionFailed;
        if (failed || (byUrl ? !scriptUrl || !*scriptUrl : !detect)) continue;
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        options.dwFlags = byUrl ? WINHTTP_AUTOPROXY_CONFIG_URL : WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags =
            byUrl ? 0 : WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        options.lpszAutoConfigUrl = byUrl ? scriptUrl : nullptr;
        WINHTTP_PROXY_INFO answer = {};
        if (!askForProxy(wideUrl, options, answer)) {
            failed = true;
            continue;
        }
        ProxyInfo info;
        info.fill(answer);
        if (info.accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return ways = {""};
        ways = namedProxies(url, info.proxy.get(), info.bypass.get());
        if (!ways.empty()) return ways;
    }
    return ways;
}

std::vector<std::string> userProxies(const std::string& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return {};
    GlobalText scriptUrl, proxy, bypass;
    scriptUrl.text = config.lpszAutoConfigUrl;
    proxy.text = config.lpszProxy;
    bypass.text = config.lpszProxyBypass;
    std::vector<std::string> ways = scriptProxies(url, scriptUrl.text, config.fAutoDetect);
    return ways.empty() ? namedProxies(url, proxy.get(), bypass.get()) : ways;
}

std::vector<std::string> machineProxies(const std::string& url) {
    WINHTTP_PROXY_INFO answer = {};
    if (!WinHttpGetDefaultProxyConfiguration(&answer)) return {};
    ProxyInfo info;
    info.fill(answer);
    if (info.accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return {};
    return namedProxies(url, info.proxy.get(), info.bypass.get());
}

}  // namespace

namespace platform {

ProxyWays proxiesFor(const std::string& url) {
    std::string proxy;
    if (proxyFromEnvironment(
            url, [](const char* name) { return std::getenv(name); }, proxy))
        return {{proxy}, false};
    std::vector<std::string> ways;
    if (!runsAsSystem()) ways = userProxies(url);
    if (ways.empty()) ways = machineProxies(url);
    if (ways.empty()) ways.push_back("");
    return {ways, true};
}

}  // namespace platform
