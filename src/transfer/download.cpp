#include "transfer/download.h"

#include <curl/curl.h>

#include <algorithm>

#include "core/path_utils.h"
#include "core/updater_context.h"
#include "transfer/proxy_route.h"

bool transferMayStart(UpdaterContext& context, const TransferHandle& handle) {
    if (handle && context.state != LogLevel::Fatal) return true;
    context.state = LogLevel::Fatal;
    if (!handle) context.log("Unknown error", LogLevel::Default, true);
    return false;
}

void reportUncreatableFile(UpdaterContext& context, const std::string& filePath) {
    context.state = LogLevel::Fatal;
    context.log("Couldn't create file " + filePath, LogLevel::Fatal, false);
    context.log("Insure to run Pelorin Silent Updater with administrator privileges", LogLevel::Tip,
                true);
}

Download::Download(UpdaterContext& context, const std::string& filePath,
                   unsigned long long byteLimit)
    : context_(context), handle_(context.caBundlePath, context.transferTimeouts) {
    if (!transferMayStart(context, handle_)) return;
    if (!file_.open(filePath, "wb")) {
        reportUncreatableFile(context, filePath);
        return;
    }
    // Opening emptied an earlier file of that name, so its bytes count as
    // free: a body larger than the volume can hold fails before it fills it.
    target_.file = file_.get();
    target_.limit = std::min(byteLimit, freeBytesOr(parentPath(filePath), byteLimit));
}

bool Download::run(const std::string& url) {
    context_.state = LogLevel::Info;
    context_.log("Establishing connection to " + urlParent(url) + " ...", LogLevel::Info, false);
    CURLcode result = static_cast<CURLcode>(performThroughProxies(handle_, url, target_, context_));
    // The last bytes leave the stream's buffer only now: a disk that refuses
    // them fails the transfer, as a write refused during it does.
    if (result == CURLE_OK && std::fflush(file_.get()) != 0) result = CURLE_WRITE_ERROR;
    if (result == CURLE_OK) return true;
    context_.state = LogLevel::Error;
    context_.log(handle_.errorText(result, target_), context_.state, false);
    file_.close();
    return false;
}
