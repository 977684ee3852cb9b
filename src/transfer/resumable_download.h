// A download that survives a bad link: what arrives is kept beside the file
// it becomes (partial_record.h), a cut transfer asks only for the rest, in
// the same run and in the next, and the file takes its name only once whole.
// Keyed by the hash its manifest names, so that any file with one (a
// release's package, a delta) resumes the same way.
#pragma once

#include <string>

#include "platform/stdio_file.h"
#include "transfer/partial_record.h"
#include "transfer/transfer_handle.h"
#include "transfer/transfer_options.h"

class UpdaterContext;

class ResumableDownload {
public:
    // Makes the handle and opens the partial file of `destination`: kept when
    // its record names `url` and `expectedHash`, else emptied. Refused while
    // the state is Fatal; when it cannot be made, the state becomes Fatal and
    // the reason is logged, as for every download.
    // The whole file is held to `byteLimit` (at most the package's cap).
    ResumableDownload(UpdaterContext& context, const std::string& url,
                      const std::string& expectedHash, const std::string& destination,
                      unsigned long long byteLimit);
    ResumableDownload(const ResumableDownload&) = delete;
    ResumableDownload& operator=(const ResumableDownload&) = delete;

    bool opened() const { return static_cast<bool>(file_); }
    // Fetches the rest, resuming a cut transfer up to three times while each
    // try adds bytes. True once `destination` holds every byte the server
    // sent; on failure libcurl's text is logged, the state is Error, and the
    // bytes stay in the partial file.
    bool run();

private:
    struct Answer {  // what the latest HTTP response's head said
        long status = 0;
        long long length = -1;
        std::string etag, lastModified, contentRange;
    };

    int attempt();
    bool startBody();
    bool acceptsResume(long status, long long length);
    void keepRecord(long status, long long length);
    void startOver();
    bool finish();
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);

    UpdaterContext& context_;
    const std::string url_, hash_, destination_;
    const unsigned long long byteLimit_;
    TransferHandle handle_;
    StdioFile file_;
    BoundedFile target_;
    PartialRecord record_;
    Answer answer_;
    unsigned long long kept_ = 0;  // bytes in the partial file before this try
    unsigned long long cap_ = 0;   // the whole file's cap: size limit and free space
    bool resumable_ = false;       // a record of these bytes is on the disk
    bool restart_ = false;         // this try's answer may not continue the bytes kept
};
