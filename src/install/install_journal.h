// The install journal: what an install adds to the installation, what it
// replaces, and how far it got, in a file that a later run acts on only when
// it reads whole and every path in it stays inside the installation.
#pragma once

#include <string>
#include <vector>

struct JournalEntry {
    enum class Kind {
        Added,       // the copy adds it (a file, or a folder whole); undo removes it
        Replaced,    // the installed file is moved into the backup before the copy
        Placed,      // held out of the copy, renamed into place after it; new
        PlacedOver,  // held out of the copy, renamed over the installed file after it
    };
    Kind kind;
    // Relative to the installation, '/' between the pieces, in the system code page.
    std::string path;
};

struct InstallJournal {
    std::vector<JournalEntry> entries;
    // Every replaced file is in the backup and every held one out of the
    // staging tree: the copy may have run. Before, the copy has not started.
    bool moved = false;
};

std::string journalText(const InstallJournal& journal);

// False, and `journal` untouched, unless `text` is a whole journal: its first
// line, entries whose paths `journalPathAllowed`, at most one "moved", and an
// end line counting the entries, every line ending in a bare "\n".
bool parseJournal(const std::string& text, InstallJournal& journal);

// A path relative to the installation that cannot leave it: not empty, no root,
// drive or stream name, no backslash, no empty, "." or ".." piece, no control
// character.
bool journalPathAllowed(const std::string& path);
