// Transfers over HTTPS through libcurl, written straight into files.
#include <curl/curl.h>

#include <algorithm>

#include "app/path_utils.h"
#include "app/updater_context.h"
#include "platform/platform.h"
#include "transfer/proxy_route.h"
#include "transfer/transfer_options.h"

namespace {

void releaseHandle(CURL*& handle) {
    curl_easy_cleanup(handle);
    handle = nullptr;
}

void closeFile(FILE*& file) {
    if (file) std::fclose(file);
    file = nullptr;
}

}  // namespace

bool UpdaterContext::openTransfer(const std::string& url, const std::string& filePath,
                                  unsigned long long byteLimit) {
    curl = curl_easy_init();
    if (!curl || state == LogLevel::Fatal) {
        state = LogLevel::Fatal;
        if (!curl) {
            log("Unknown error", LogLevel::Default, true);
        } else {
            releaseHandle(curl);
        }
        return false;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curlErrorBuffer);
    downloadFile = platform::openFile(filePath, "wb");
    if (downloadFile) {
        // Opening emptied an earlier file of that name, so its bytes count as
        // free: a body larger than the volume can hold fails before it fills it.
        downloadTarget.file = downloadFile;
        downloadTarget.limit = std::min(byteLimit, freeBytesOr(parentPath(filePath), byteLimit));
        applyTransferOptions(curl, caBundlePath, transferTimeouts, downloadTarget.limit);
        return true;
    }
    state = LogLevel::Fatal;
    log("Couldn't create file " + filePath, LogLevel::Fatal, false);
    log("Insure to run Pelorin Silent Updater with administrator privileges", LogLevel::Tip, true);
    releaseHandle(curl);
    return false;
}

bool UpdaterContext::runTransfer(const std::string& url) {
    state = LogLevel::Info;
    log("Establishing connection to " + urlParent(url) + " ...", LogLevel::Info, false);
    CURLcode result = static_cast<CURLcode>(
        performThroughProxies(curl, url, curlErrorBuffer, downloadTarget, *this));
    // The last bytes leave the stream's buffer only now: a disk that refuses
    // them fails the transfer, as a write refused during it does.
    if (result == CURLE_OK && std::fflush(downloadFile) != 0) result = CURLE_WRITE_ERROR;
    if (result == CURLE_OK) return true;
    state = LogLevel::Error;
    log(transferErrorText(result, curlErrorBuffer, downloadTarget), state, false);
    releaseHandle(curl);
    closeFile(downloadFile);
    return false;
}

bool UpdaterContext::downloadPackage(const std::string& url) {
    if (!openTransfer(url, joinPath(installDir, "Pelorin.msi"), packageByteLimit)) return false;
    if (!runTransfer(url)) return false;
    log("Connection successfully established to " + urlParent(url), LogLevel::Info, false);
    log("Downloading data from server..", LogLevel::Default, true);
    closeFile(downloadFile);
    releaseHandle(curl);
    return true;
}
