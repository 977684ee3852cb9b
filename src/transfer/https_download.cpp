// Transfers over HTTPS through libcurl, written straight into files.
#include <curl/curl.h>

#include "app/path_utils.h"
#include "app/updater_context.h"
#include "platform/platform.h"

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

std::size_t UpdaterContext::writeToFile(char* data, std::size_t size, std::size_t count,
                                        void* file) {
    return std::fwrite(data, size, count, static_cast<FILE*>(file));
}

bool UpdaterContext::openTransfer(const std::string& url, const std::string& filePath) {
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
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_CAINFO, caBundlePath.c_str());
    // A server that accepts and then sends nothing would hold the run for ever,
    // and the single-instance guard would then turn every later run away.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, lowSpeedTimeSeconds);
    downloadFile = platform::openFile(filePath, "wb");
    if (downloadFile) return true;
    state = LogLevel::Fatal;
    log("Couldn't create file " + filePath, LogLevel::Fatal, false);
    log("Insure to run Pelorin Silent Updater with administrator privileges", LogLevel::Tip, true);
    releaseHandle(curl);
    return false;
}

bool UpdaterContext::runTransfer(const std::string& url) {
    state = LogLevel::Info;
    log("Establishing connection to " + urlParent(url) + " ...", LogLevel::Info, false);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &UpdaterContext::writeToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, downloadFile);
    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) return true;
    state = LogLevel::Error;
    // libcurl leaves its buffer empty for a few failures; its code's text then
    // keeps the failure from passing without a line.
    log(curlErrorBuffer[0] ? curlErrorBuffer : curl_easy_strerror(result), state, false);
    releaseHandle(curl);
    closeFile(downloadFile);
    return false;
}

bool UpdaterContext::downloadPackage(const std::string& url) {
    if (!openTransfer(url, joinPath(installDir, "Pelorin.msi"))) return false;
    if (!runTransfer(url)) return false;
    log("Connection successfully established to " + urlParent(url), LogLevel::Info, false);
    log("Downloading data from server..", LogLevel::Default, true);
    closeFile(downloadFile);
    releaseHandle(curl);
    return true;
}
