#include "transfer/proxy_route.h"

#include <curl/curl.h>

#include <vector>

#include "core/updater_context.h"
#include "platform/platform.h"

namespace {

// The proxy's answer to the tunnel request (CONNECT), 0 when there was none.
long proxyAnswer(CURL* handle) {
    long answer = 0;
    curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &answer);
    return answer;
}

// A TLS failure before any tunnel answer can only be the proxy's own: the
// update server's handshake starts after the proxy has answered CONNECT.
bool proxyTlsFailed(const std::string& proxy, CURLcode result, long tunnelAnswer) {
    const bool tlsFailure = result == CURLE_SSL_CONNECT_ERROR ||
                            result == CURLE_PEER_FAILED_VERIFICATION ||
                            result == CURLE_SSL_CERTPROBLEM || result == CURLE_SSL_ISSUER_ERROR;
    return tlsFailure && tunnelAnswer == 0 && proxy.rfind("https://", 0) == 0;
}

// The proxy itself was not reached (refused, unknown, or silent until the
// connect time-out), its certificate could not be checked, it refused the
// tunnel, or it took the connection and never completed the tunnel within
// the connect time-out: another way may work.
bool proxyFailed(CURL* handle, const std::string& proxy, CURLcode result) {
    const long tunnelAnswer = proxyAnswer(handle);
    curl_off_t connectedAfter = 0, tunnelledAfter = 0;
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connectedAfter);
    curl_easy_getinfo(handle, CURLINFO_APPCONNECT_TIME_T, &tunnelledAfter);
    const bool timedOut = result == CURLE_OPERATION_TIMEDOUT;
    return result == CURLE_COULDNT_RESOLVE_PROXY || result == CURLE_COULDNT_CONNECT ||
           result == CURLE_PROXY || (timedOut && connectedAfter == 0) ||
           (timedOut && tunnelAnswer == 0 && tunnelledAfter == 0) ||
           proxyTlsFailed(proxy, result, tunnelAnswer) ||
           (result != CURLE_OK && tunnelAnswer >= 300);
}

}  // namespace

std::string shownProxy(const std::string& proxy) {
    // Everything up to the last '@' is the user's: a password may hold '/',
    // ':' or '@' as they are.
    const std::size_t start = proxy.find("://") == std::string::npos ? 0 : proxy.find("://") + 3;
    const std::size_t at = proxy.rfind('@');
    if (at == std::string::npos || at < start) return proxy;
    return proxy.substr(0, start) + proxy.substr(at + 1);
}

void useProxy(CURL* handle, const std::string& proxy, bool withAccountCredentials) {
    // "" in both: no proxy at all, and no host exempt from the one given.
    curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "");
    // An empty user and password make SSPI answer as the account the run is
    // (the machine account for SYSTEM); credentials in a proxy URL of the
    // environment are the user's choice and go as libcurl sends them.
    const bool accountAnswers = withAccountCredentials && !proxy.empty();
    curl_easy_setopt(handle, CURLOPT_PROXYUSERPWD, accountAnswers ? ":" : nullptr);
    curl_easy_setopt(handle, CURLOPT_PROXYAUTH,
                     accountAnswers ? CURLAUTH_NEGOTIATE | CURLAUTH_NTLM : CURLAUTH_BASIC);
    // A proxy spoken to over TLS is the network's, trusted as the system
    // trusts it; the update server is still held to the updater's bundle.
    curl_easy_setopt(handle, CURLOPT_PROXY_SSL_OPTIONS, CURLSSLOPT_NATIVE_CA);
}

int performThroughProxies(TransferHandle& handle, const std::string& url, BoundedFile& target,
                          UpdaterContext& context) {
    handle.aim(url, target.limit);
    const platform::ProxyWays ways = platform::proxiesFor(url);
    const std::vector<std::string>& proxies = ways.proxies;
    CURLcode result = CURLE_OK;
    for (std::size_t i = 0; i < proxies.size(); ++i) {
        const std::string& proxy = proxies[i];
        if (!proxy.empty()) {
            context.log("Using proxy " + shownProxy(proxy) + " for " + url + " ", LogLevel::Info,
                        true);
        } else if (i > 0) {
            context.log("Connecting directly to " + url + " ", LogLevel::Info, true);
        }
        useProxy(handle.get(), proxy, ways.fromSystemSettings);
        writeInto(handle.get(), target);
        result = curl_easy_perform(handle.get());
        const bool lastWay = i + 1 == proxies.size();
        const bool failed = !proxy.empty() && proxyFailed(handle.get(), proxy, result);
        // The one answer an administrator must act on, said in plain words.
        if (failed && proxyAnswer(handle.get()) == 407)
            context.log("Proxy " + shownProxy(proxy) + " requires authentication",
                        LogLevel::Warning, true);
        if (lastWay || !failed || target.written > 0) break;
        if (proxyAnswer(handle.get()) != 407)
            context.log(handle.errorText(result, target), LogLevel::Warning, false);
    }
    return result;
}
