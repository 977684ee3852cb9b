#include "mirrors/parallel_transfers.h"

#include <curl/curl.h>

#include <list>

#include "platform/platform.h"
#include "platform/stdio_file.h"
#include "transfer/proxy_route.h"
#include "transfer/transfer_handle.h"

namespace {

class MultiHandle {
public:
    MultiHandle() : handle_(curl_multi_init()) {}
    ~MultiHandle() {
        if (handle_) curl_multi_cleanup(handle_);
    }
    MultiHandle(const MultiHandle&) = delete;
    MultiHandle& operator=(const MultiHandle&) = delete;
    CURLM* get() const { return handle_; }

private:
    CURLM* handle_;
};

std::size_t discardBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

// One running transfer: its handle, in the multi handle from start to end,
// and the file its body goes to.
class RunningTransfer {
public:
    RunningTransfer(Transfer& transfer, CURLM* multi, const TransferSettings& settings)
        : transfer_(transfer), multi_(multi), handle_(settings.caBundlePath, settings.timeouts) {
        if (!handle_) {
            transfer_.error = "Unknown error";
            return;
        }
        handle_.aim(transfer.url, transfer.byteLimit);
        curl_easy_setopt(handle_.get(), CURLOPT_PRIVATE, this);
        const platform::ProxyWays ways = platform::proxiesFor(transfer.url);
        if (settings.proxy.empty())
            useProxy(handle_.get(), ways.proxies.front(), ways.fromSystemSettings);
        else
            useProxy(handle_.get(), settings.proxy, false);
        if (!openTarget()) return;
        added_ = curl_multi_add_handle(multi_, handle_.get()) == CURLM_OK;
        if (!added_) transfer_.error = "Unknown error";
    }
    ~RunningTransfer() {
        if (added_) curl_multi_remove_handle(multi_, handle_.get());
    }
    RunningTransfer(const RunningTransfer&) = delete;
    RunningTransfer& operator=(const RunningTransfer&) = delete;

    // False when the transfer could not be started; its error is set then.
    bool started() const { return added_; }
    Transfer& transfer() { return transfer_; }

    // Takes the result libcurl reported and closes the file.
    void finish(CURLcode result) {
        file_.close();
        transfer_.succeeded = result == CURLE_OK && !target_.limitPassed;
        if (!transfer_.succeeded) transfer_.error = handle_.errorText(result, target_);
        curl_off_t announced = -1;
        curl_off_t microseconds = 0;
        curl_easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &transfer_.responseCode);
        curl_easy_getinfo(handle_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        curl_easy_getinfo(handle_.get(), CURLINFO_TOTAL_TIME_T, &microseconds);
        transfer_.announcedBytes = announced;
        transfer_.receivedBytes = target_.written;
        transfer_.seconds = static_cast<double>(microseconds) / 1e6;
    }

private:
    bool openTarget() {
        if (transfer_.filePath.empty()) {
            curl_easy_setopt(handle_.get(), CURLOPT_NOBODY, 1L);
            curl_easy_setopt(handle_.get(), CURLOPT_WRITEFUNCTION, &discardBody);
            return true;
        }
        if (!file_.open(transfer_.filePath, "wb")) {
            transfer_.error = "Couldn't create file " + transfer_.filePath;
            return false;
        }
        target_.file = file_.get();
        target_.limit = transfer_.byteLimit;
        writeInto(handle_.get(), target_);
        return true;
    }

    Transfer& transfer_;
    CURLM* multi_;
    TransferHandle handle_;
    StdioFile file_;
    BoundedFile target_;
    bool added_ = false;
};

// Ends every transfer libcurl reports done; true when any ended.
bool collectFinished(CURLM* multi, std::list<RunningTransfer>& running,
                     const std::function<void(Transfer&)>& finished) {
    bool any = false;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        RunningTransfer* done = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &done);
        done->finish(message->data.result);
        for (auto it = running.begin(); it != running.end(); ++it) {
            if (&*it != done) continue;
            Transfer& transfer = it->transfer();
            running.erase(it);  // the handle leaves the multi handle first
            finished(transfer);
            break;
        }
        any = true;
    }
    return any;
}

}  // namespace

bool runTransfers(std::vector<Transfer>& transfers, const TransferSettings& settings,
                  const std::function<void(Transfer&)>& finished) {
    MultiHandle multi;
    if (!multi.get()) return false;
    const std::size_t parallel = settings.parallel > 0 ? settings.parallel : 1;
    std::list<RunningTransfer> running;  // stable addresses: libcurl holds pointers into them
    std::size_t next = 0;
    while (next < transfers.size() || !running.empty()) {
        while (running.size() < parallel && next < transfers.size()) {
            running.emplace_back(transfers[next++], multi.get(), settings);
            if (running.back().started()) continue;
            Transfer& transfer = running.back().transfer();
            running.pop_back();
            finished(transfer);
        }
        int stillRunning = 0;
        curl_multi_perform(multi.get(), &stillRunning);
        if (!collectFinished(multi.get(), running, finished) && !running.empty()) {
            curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
        }
    }
    return true;
}
