#include "transfer/resumable_download.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>

#include "core/path_utils.h"
#include "core/text.h"
#include "core/updater_context.h"
#include "platform/platform.h"
#include "transfer/download.h"
#include "transfer/proxy_route.h"

namespace {

const int resumesPerRun = 3;

// A header line's value when its name is `name` (any letter case).
bool headerValue(const std::string& line, const std::string& name, std::string& value) {
    if (line.size() <= name.size() || line[name.size()] != ':' ||
        lowerCaseAscii(line.substr(0, name.size())) != lowerCaseAscii(name))
        return false;
    value = std::string(withoutOuterSpaces(line.substr(name.size() + 1)));
    return true;
}

// Failures that more bytes from the same server may mend; the disk, a cap or
// our own refusal would fail the same way again.
bool isCut(int result, const BoundedFile& target) {
    return !target.limitPassed && result != CURLE_WRITE_ERROR &&
           result != CURLE_FILESIZE_EXCEEDED && result != CURLE_ABORTED_BY_CALLBACK &&
           result != CURLE_OUT_OF_MEMORY;
}

bool isHttp(const std::string& url) {
    const std::string scheme = lowerCaseAscii(url.substr(0, url.find("://")));
    return scheme == "http" || scheme == "https";
}

// An HTTP validator that may ask "the rest, if unchanged" (If-Range): a weak
// entity tag may not.
std::string ifRangeValue(const PartialRecord& record) {
    if (!record.etag.empty() && record.etag.rfind("W/", 0) != 0) return record.etag;
    return record.etag.empty() ? record.lastModified : std::string();
}

// The validator the record holds, when the server gave one then, is the one it gives now.
bool sameVersion(const PartialRecord& record, const std::string& etag,
                 const std::string& lastModified) {
    if (!record.etag.empty()) return etag == record.etag;
    return record.lastModified.empty() || lastModified == record.lastModified;
}

class HeaderList {
public:
    explicit HeaderList(const std::string& header)
        : list_(header.empty() ? nullptr : curl_slist_append(nullptr, header.c_str())) {}
    ~HeaderList() { curl_slist_free_all(list_); }
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    curl_slist* get() const { return list_; }

private:
    curl_slist* list_;
};

}  // namespace

ResumableDownload::ResumableDownload(UpdaterContext& context, const std::string& url,
                                     const std::string& expectedHash,
                                     const std::string& destination, unsigned long long byteLimit)
    : context_(context),
      url_(url),
      hash_(expectedHash),
      destination_(destination),
      byteLimit_(std::min(byteLimit, packageByteLimit)),
      handle_(context.caBundlePath, context.transferTimeouts) {
    if (!transferMayStart(context, handle_)) return;
    kept_ = resumableBytes(destination, record_);
    if (kept_ > 0 && (record_.url != url || record_.hash != expectedHash)) kept_ = 0;
    // Bytes of another file, or none worth keeping: the open below empties them.
    if (kept_ == 0) std::remove(partialRecordPath(destination).c_str());
    resumable_ = kept_ > 0;
    // An earlier file of the name goes now, so its bytes count as free.
    std::remove(destination.c_str());
    if (!file_.open(partialFilePath(destination), kept_ > 0 ? "ab" : "wb")) {
        reportUncreatableFile(context, destination);
        return;
    }
    // Kept bytes count against the caps of the whole file.
    cap_ = std::min(byteLimit_, kept_ + freeBytesOr(parentPath(destination), byteLimit_));
}

bool ResumableDownload::run() {
    context_.state = LogLevel::Info;
    context_.log("Establishing connection to " + urlParent(url_) + " ...", LogLevel::Info, false);
    for (int resumes = 0, restarts = 0;;) {
        const int result = attempt();
        if (result == CURLE_OK) return finish();
        const bool progress = target_.written > 0;
        kept_ += target_.written;
        // The answer could not continue the kept bytes: from the start, at once.
        if (restart_ && restarts++ == 0) {
            startOver();
            if (file_) continue;
        }
        context_.state = LogLevel::Error;
        context_.log(handle_.errorText(result, target_), context_.state, false);
        if (!progress || !resumable_ || resumes++ == resumesPerRun || !isCut(result, target_))
            break;
        context_.state = LogLevel::Info;
    }
    file_.close();
    return false;
}

int ResumableDownload::attempt() {
    restart_ = false;
    answer_ = Answer();
    CURL* curl = handle_.get();
    const std::string range = kept_ > 0 ? std::to_string(kept_) + "-" : std::string();
    const std::string ifRange = ifRangeValue(record_);
    HeaderList headers(kept_ > 0 && !ifRange.empty() ? "If-Range: " + ifRange : std::string());
    curl_easy_setopt(curl, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());
    // An error page in answer to a resume is no file to keep: the bytes stay.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, kept_ > 0 ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &ResumableDownload::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    target_.file = file_.get();
    target_.limit = cap_;
    target_.beforeBody = [](void* self) {
        return static_cast<ResumableDownload*>(self)->startBody();
    };
    target_.owner = this;
    int result = performThroughProxies(handle_, url_, target_, context_);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    restart_ = restart_ || (kept_ > 0 && status == 416);  // the file is shorter now
    // A body without bytes (an empty file, a page without text) still decides.
    if (result == CURLE_OK && !target_.bodyStarted && !startBody()) result = CURLE_WRITE_ERROR;
    // The last bytes leave the stream's buffer only now: a disk that refuses
    // them fails the transfer, as a write refused during it does.
    if (std::fflush(file_.get()) != 0 && result == CURLE_OK) result = CURLE_WRITE_ERROR;
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    return result;
}

std::size_t ResumableDownload::onHeader(char* data, std::size_t size, std::size_t count,
                                        void* owner) {
    ResumableDownload& self = *static_cast<ResumableDownload*>(owner);
    Answer& answer = self.answer_;
    std::string line(data, size * count), value;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {  // a new response begins
        answer = Answer();
        std::sscanf(line.c_str(), "HTTP/%*s %ld", &answer.status);
    } else if (headerValue(line, "Content-Length", value)) {
        std::sscanf(value.c_str(), "%lld", &answer.length);
    } else if (!headerValue(line, "ETag", answer.etag) &&
               !headerValue(line, "Last-Modified", answer.lastModified)) {
        headerValue(line, "Content-Range", answer.contentRange);
    }
    // The head is complete: decide before the body, which may have no bytes.
    if (line.empty() && answer.status != 0 && !self.target_.bodyStarted) {
        self.target_.bodyStarted = true;
        if (!self.startBody()) return 0;
    }
    return size * count;
}

bool ResumableDownload::startBody() {
    long status = answer_.status;
    curl_off_t length = answer_.length;
    if (!isHttp(url_)) {
        curl_easy_getinfo(handle_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        status = 0;
    }
    if (kept_ > 0) {
        if (acceptsResume(status, length)) return true;
        if (status >= 400) return true;  // libcurl fails it (FAILONERROR) before its body
        // A 206 that does not continue these bytes is dropped; any other
        // answer is the whole body again (or a page) and is taken from byte 0.
        if ((restart_ = isHttp(url_) ? status == 206 : true)) return false;
        if (!file_.open(partialFilePath(destination_), "wb")) return false;
        target_.file = file_.get();
        kept_ = 0;
    }
    keepRecord(status, length);
    return true;
}

bool ResumableDownload::acceptsResume(long status, long long length) {
    unsigned long long first = 0, last = 0, total = 0;
    if (isHttp(url_)) {
        if (status != 206 || !sameVersion(record_, answer_.etag, answer_.lastModified) ||
            std::sscanf(answer_.contentRange.c_str(), "bytes %llu-%llu/%llu", &first, &last,
                        &total) != 3 ||
            first != kept_ || total != record_.size || last + 1 != total)
            return false;
    } else if (length < 0 || kept_ + static_cast<unsigned long long>(length) != record_.size) {
        return false;  // ftp and sftp: the rest, as long as the record says
    }
    if (record_.size > cap_) {
        target_.limitPassed = true;
        return false;
    }
    target_.limit = cap_ - kept_;
    context_.state = LogLevel::Info;
    context_.log("Resuming download at " + groupedDigits(kept_) + " of " +
                     groupedDigits(record_.size) + " bytes",
                 LogLevel::Info, true);
    return true;
}

void ResumableDownload::keepRecord(long status, long long length) {
    // Only a whole body of announced size can be resumed; the server's
    // validators tell later whether it still sends the same file.
    const bool whole = isHttp(url_) ? status == 200 : true;
    record_ = PartialRecord{url_, hash_, length > 0 ? static_cast<unsigned long long>(length) : 0,
                            answer_.etag, answer_.lastModified};
    resumable_ = whole && length > 0 && writePartialRecord(destination_, record_);
    if (!resumable_) std::remove(partialRecordPath(destination_).c_str());
}

void ResumableDownload::startOver() {
    std::remove(partialRecordPath(destination_).c_str());
    resumable_ = false;
    kept_ = 0;
    record_ = PartialRecord();
    if (file_.open(partialFilePath(destination_), "wb"))
        cap_ = std::min(byteLimit_, freeBytesOr(parentPath(destination_), byteLimit_));
}

bool ResumableDownload::finish() {
    const bool closed = file_.close();
    if (!closed || !platform::replaceFile(partialFilePath(destination_), destination_)) {
        context_.state = LogLevel::Error;
        context_.log(curl_easy_strerror(CURLE_WRITE_ERROR), context_.state, false);
        return false;
    }
    std::remove(partialRecordPath(destination_).c_str());
    return true;
}
