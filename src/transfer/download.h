// A transfer into one file, as the updater makes it: the handle and the file
// are its own and go with it; the lines it logs and the state it sets are the
// run's. The manifest fetch and the package download each make one.
#pragma once

#include <string>

#include "platform/stdio_file.h"
#include "transfer/transfer_handle.h"
#include "transfer/transfer_options.h"

class UpdaterContext;

// False, with the state Fatal, when no transfer may start: the run's state is
// already Fatal, or `handle` could not be made ("Unknown error" logged).
bool transferMayStart(UpdaterContext& context, const TransferHandle& handle);
// The lines and the Fatal state of a download whose file cannot be made.
void reportUncreatableFile(UpdaterContext& context, const std::string& filePath);

class Download {
public:
    // Makes the handle and opens `filePath`, emptied, to grow to `byteLimit`
    // or what its volume holds. Refused while the run's state is Fatal; when
    // it cannot be made, the state becomes Fatal and the reason is logged.
    Download(UpdaterContext& context, const std::string& filePath, unsigned long long byteLimit);
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;

    bool opened() const { return static_cast<bool>(file_); }
    // Fetches `url` into the file, which holds every byte once this is true.
    // On failure libcurl's text is logged and the state is Error.
    bool run(const std::string& url);
    // The file is done with; the handle stays for further transfers.
    void closeFile() { file_.close(); }
    TransferHandle& handle() { return handle_; }

private:
    UpdaterContext& context_;
    TransferHandle handle_;
    StdioFile file_;
    BoundedFile target_;
};
