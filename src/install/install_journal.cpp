#include "install/install_journal.h"

#include <cstddef>

namespace {

const char* const firstLine = "Pelorin install journal 1";

struct Mark {
    JournalEntry::Kind kind;
    const char* text;
};
const Mark marks[] = {{JournalEntry::Kind::Added, "added "},
                      {JournalEntry::Kind::Replaced, "replaced "},
                      {JournalEntry::Kind::Placed, "placed "},
                      {JournalEntry::Kind::PlacedOver, "placed-over "}};

bool startsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

bool parseEntry(const std::string& line, JournalEntry& entry) {
    for (const Mark& mark : marks) {
        if (!startsWith(line, mark.text)) continue;
        entry = {mark.kind, line.substr(std::string(mark.text).size())};
        return journalPathAllowed(entry.path);
    }
    return false;
}

// The lines of `text`, each ended by "\n"; false when the last one is not.
bool splitLines(const std::string& text, std::vector<std::string>& lines) {
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return start == text.size();
}

}  // namespace

bool journalPathAllowed(const std::string& path) {
    if (path.empty()) return false;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('/', start);
        const std::string piece = path.substr(start, end - start);
        if (piece.empty() || piece == "." || piece == "..") return false;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\' || c == ':')
            return false;
    }
    return true;
}

std::string journalText(const InstallJournal& journal) {
    std::string text = std::string(firstLine) + "\n";
    for (const JournalEntry& entry : journal.entries) {
        for (const Mark& mark : marks) {
            if (mark.kind == entry.kind) text += mark.text + entry.path + "\n";
        }
    }
    if (journal.moved) text += "moved\n";
    return text + "end " + std::to_string(journal.entries.size()) + "\n";
}

bool parseJournal(const std::string& text, InstallJournal& journal) {
    std::vector<std::string> lines;
    if (!splitLines(text, lines) || lines.size() < 2 || lines.front() != firstLine) return false;
    InstallJournal read;
    std::size_t last = lines.size() - 1;
    if (last >= 2 && lines[last - 1] == "moved") read.moved = true;
    for (std::size_t line = 1; line < last - (read.moved ? 1 : 0); ++line) {
        JournalEntry entry;
        if (!parseEntry(lines[line], entry)) return false;
        read.entries.push_back(entry);
    }
    if (lines[last] != "end " + std::to_string(read.entries.size())) return false;
    journal = read;
    return true;
}
