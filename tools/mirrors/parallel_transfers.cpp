#include "mirrors/parallel_transfers.h"

#include <curl/curl.h>

#include <list>

#include "platform/platform.h"
#include "transfer/proxy_route.h"

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

// One running transfer: its easy handle, in the multi handle from start to
// end, and the file its body goes to.
class RunningTransfer {
public:
    RunningTransfer(Transfer& transfer, CURLM* multi, const TransferSettings& settings)
        : transfer_(transfer), multi_(multi), easy_(curl_easy_init()) {
        if (!easy_) {
            transfer_.error = "Unknown error";
            return;
        }
        curl_easy_setopt(easy_, CURLOPT_URL, transfer.url.c_str());
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
        curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
        applyTransferOptions(easy_, settings.caBundlePath, settings.timeouts, transfer.byteLimit);
        useProxy(easy_, settings.proxy.empty() ? platform::proxiesFor(transfer.url).front()
                                               : settings.proxy);
        if (!openTarget()) return;
        added_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
        if (!added_) transfer_.error = "Unknown error";
    }
    ~RunningTransfer() {
        if (added_) curl_multi_remove_handle(multi_, easy_);
        if (easy_) curl_easy_cleanup(easy_);
        closeFile();
    }
    RunningTransfer(const RunningTransfer&) = delete;
    RunningTransfer& operator=(const RunningTransfer&) = delete;

    // False when the transfer could not be started; its error is set then.
    bool started() const { return added_; }
    Transfer& transfer() { return transfer_; }

    // Takes the result libcurl reported and closes the file.
    void finish(CURLcode result) {
        closeFile();
        transfer_.succeeded = result == CURLE_OK && !target_.limitPassed;
        if (!transfer_.succeeded) {
            transfer_.error = transferErrorText(result, errorBuffer_, target_);
        }
        curl_off_t announced = -1;
        curl_off_t microseconds = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &transfer_.responseCode);
        curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        curl_easy_getinfo(easy_, CURLINFO_TOTAL_TIME_T, &microseconds);
        transfer_.announcedBytes = announced;
        transfer_.receivedBytes = target_.written;
        transfer_.seconds = static_cast<double>(microseconds) / 1e6;
    }

private:
    bool openTarget() {
        if (transfer_.filePath.empty()) {
            curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &discardBody);
            return true;
        }
        target_.file = platform::openFile(transfer_.filePath, "wb");
        if (!target_.file) {
            transfer_.error = "Couldn't create file " + transfer_.filePath;
            return false;
        }
        target_.limit = transfer_.byteLimit;
        writeInto(easy_, target_);
        return true;
    }

    void closeFile() {
        if (target_.file) std::fclose(target_.file);
        target_.file = nullptr;
    }

    Transfer& transfer_;
    CURLM* multi_;
    CURL* easy_;
    bool added_ = false;
    BoundedFile target_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
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
