#include "serverlist/list_lines.h"

#include <cstring>

#include "core/text.h"
#include "platform/stdio_file.h"
#include "serverlist/server_list.h"

namespace {

// Splits a stream into lines, reading it in large blocks: a list of tens of
// thousands of lines is read in a few calls.
class LineReader {
public:
    explicit LineReader(std::FILE* file) : file_(file), buffer_(64 * 1024) {}

    // The next line without its line end; false once the stream is exhausted.
    bool next(std::string& line) {
        line.clear();
        bool readAny = false;
        for (;;) {
            if (position_ == filled_ && !refill()) return readAny;
            readAny = true;
            const char* start = buffer_.data() + position_;
            const std::size_t available = filled_ - position_;
            const void* lineEnd = std::memchr(start, '\n', available);
            if (!lineEnd) {
                line.append(start, available);
                position_ = filled_;
                continue;
            }
            const std::size_t length =
                static_cast<std::size_t>(static_cast<const char*>(lineEnd) - start);
            line.append(start, length);
            position_ += length + 1;
            // Text mode on Windows has already taken the CR of a CR LF away;
            // elsewhere it is still there.
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
    }

private:
    bool refill() {
        filled_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        position_ = 0;
        return filled_ > 0;
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
};

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool endsWith(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The key rule: the lower-cased line begins with `key` (lower case) and has
// a non-empty value after its last '='; `value` then holds that value, lower
// case, without spaces at either end.
bool readKeyValue(const std::string& line, const std::string& key, std::string& value) {
    // Most lines are entries: they are turned down before any copy is made.
    if (line.size() < key.size() || lowerCaseAscii(line.substr(0, key.size())) != key) return false;
    const std::string lower = lowerCaseAscii(line);
    const std::size_t equals = lower.rfind('=');
    if (equals == std::string::npos) return false;
    const std::string found(withoutOuterSpaces(lower.substr(equals + 1)));
    if (found.empty()) return false;
    value = found;
    return true;
}

// An entry: 8 characters or more, beginning with a scheme in lower case.
bool isEntryLine(const std::string& line) {
    if (line.size() < 8) return false;
    for (const char* scheme : {"ftp://", "sftp://", "http://", "https://"}) {
        if (startsWith(line, scheme)) return true;
    }
    return false;
}

// The entry itself when it ends in ".xml", otherwise the entry with the path
// of the Windows manifest appended below it.
std::string manifestUrlOf(const std::string& entry) {
    if (endsWith(entry, ".xml")) return entry;
    std::string url;
    url.reserve(entry.size() + 18);
    url += entry;
    if (!endsWith(entry, "/")) url += '/';
    url += "Win/UpdateWin.xml";
    return url;
}

}  // namespace

void readListLines(std::FILE* file, std::vector<std::string>& urls, std::string& version) {
    LineReader reader(file);
    std::string rawLine;
    std::string line;
    while (reader.next(rawLine)) {
        // Stripped into one reused buffer: no allocation per line.
        line.assign(withoutOuterSpaces(rawLine));
        if (line.empty() || line[0] == '#') continue;
        if (version == "0.0" && readKeyValue(line, "version", version)) continue;
        if (isEntryLine(line) && urls.size() < ServerList::maxEntries) {
            urls.push_back(manifestUrlOf(line));
        }
    }
}

bool readListFile(const std::string& path, std::vector<std::string>& urls, std::string& version) {
    StdioFile file(path, "r");
    if (!file) return false;
    readListLines(file.get(), urls, version);
    return true;
}
