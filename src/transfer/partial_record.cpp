#include "transfer/partial_record.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/text.h"
#include "platform/platform.h"
#include "platform/stdio_file.h"
#include "transfer/transfer_options.h"

namespace {

const char* const firstLine = "PelorinPartialDownload 1";
const std::size_t longestValue = 2048;

bool isHashText(const std::string& text) {
    if (text.size() != 40) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

// Printable ASCII only: no line end can hide inside a value.
bool isPlainValue(const std::string& text) {
    if (text.size() > longestValue) return false;
    for (char c : text)
        if (c < 0x20 || c > 0x7e) return false;
    return true;
}

bool parseSize(const std::string& text, unsigned long long& size) {
    return plainDecimal(text, size) && size > 0 && size <= packageByteLimit;
}

// The next line of `text` from `at`, which must begin with `key` and a space.
bool takeField(const std::string& text, std::size_t& at, const std::string& key,
               std::string& value) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos || text.compare(at, key.size() + 1, key + " ") != 0) return false;
    value = text.substr(at + key.size() + 1, end - at - key.size() - 1);
    at = end + 1;
    return isPlainValue(value);
}

}  // namespace

std::string partialFilePath(const std::string& destination) {
    return destination + ".partial";
}

std::string partialRecordPath(const std::string& destination) {
    return destination + ".partial.rec";
}

std::string partialRecordText(const PartialRecord& record) {
    return std::string(firstLine) + "\nUrl " + record.url + "\nHash " + record.hash + "\nSize " +
           std::to_string(record.size) + "\nETag " + record.etag + "\nLast-Modified " +
           record.lastModified + "\nEnd\n";
}

bool parsePartialRecord(const std::string& text, PartialRecord& record) {
    const std::string head = std::string(firstLine) + "\n";
    if (text.compare(0, head.size(), head) != 0) return false;
    std::size_t at = head.size();
    std::string size;
    PartialRecord read;
    if (!takeField(text, at, "Url", read.url) || read.url.empty() ||
        !takeField(text, at, "Hash", read.hash) || !isHashText(read.hash) ||
        !takeField(text, at, "Size", size) || !parseSize(size, read.size) ||
        !takeField(text, at, "ETag", read.etag) ||
        !takeField(text, at, "Last-Modified", read.lastModified) ||
        text.compare(at, std::string::npos, "End\n") != 0)
        return false;
    record = read;
    return true;
}

bool writePartialRecord(const std::string& destination, const PartialRecord& record) {
    const std::string path = partialRecordPath(destination);
    if (replaceFileWithText(path, path + ".new", partialRecordText(record))) return true;
    std::remove(path.c_str());
    return false;
}

unsigned long long resumableBytes(const std::string& destination, PartialRecord& record) {
    std::string text;
    const std::string partial = partialFilePath(destination);
    if (!platform::fileStatus(partial).isRegularFile ||
        !platform::fileStatus(partialRecordPath(destination)).isRegularFile ||
        !readWholeFile(partialRecordPath(destination), text) || text.size() > 4 * longestValue ||
        !parsePartialRecord(text, record))
        return 0;
    std::error_code error;
    const std::uintmax_t kept = std::filesystem::file_size(platform::nativePath(partial), error);
    return !error && kept < record.size ? kept : 0;
}

void removePartial(const std::string& destination) {
    std::remove(partialFilePath(destination).c_str());
    std::remove(partialRecordPath(destination).c_str());
}

void removePartialUnlessResumable(const std::string& destination) {
    PartialRecord record;
    if (resumableBytes(destination, record) == 0) removePartial(destination);
}
