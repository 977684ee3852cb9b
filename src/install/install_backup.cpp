#include "install/install_backup.h"

#include "core/path_utils.h"
#include "platform/platform.h"
#include "platform/stdio_file.h"

namespace fs = std::filesystem;

namespace {

using Kind = JournalEntry::Kind;

// A journal names a few thousand files; anything far larger is not one.
constexpr std::uintmax_t journalByteLimit = 64 << 20;

struct Planner {
    fs::path release, root;
    std::vector<fs::path> heldPaths;
    std::vector<JournalEntry> entries;

    bool held(const fs::path& installed) const {
        std::error_code error;
        for (const fs::path& path : heldPaths)
            if (fs::equivalent(installed, path, error)) return true;
        return false;
    }

    void add(Kind kind, const fs::path& piece) {
        entries.push_back({kind, platform::narrowPath(piece)});
    }

    // The entries of the release below `relative` (a folder the installation
    // lacks counts once, whole); false when the release tree could not be read
    // whole or a name has no place in the journal.
    bool plan(const fs::path& relative, bool insideHeld) {
        std::error_code walking;
        fs::directory_iterator entry(release / relative, walking), end;
        for (; !walking && entry != end; entry.increment(walking)) {
            std::error_code looking;
            const fs::path piece = relative / entry->path().filename();
            const fs::path installed = root / piece;
            const fs::file_status status = fs::symlink_status(installed, looking);
            const bool folder = entry->is_directory(looking);
            if (looking || !journalPathAllowed(platform::narrowPath(piece))) return false;
            const bool isHeld = insideHeld || held(installed);
            const bool file = fs::is_regular_file(status) || fs::is_symlink(status);
            if (folder && fs::is_directory(status)) {
                if (!plan(piece, isHeld)) return false;
            } else if (!fs::exists(status)) {
                add(isHeld && !folder ? Kind::Placed : Kind::Added, piece);
            } else if (!folder && file) {
                add(isHeld ? Kind::PlacedOver : Kind::Replaced, piece);
            }
        }
        return !walking;
    }
};

bool createParent(const fs::path& path) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    return !error;
}

bool present(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Every file below `path` (or `path` itself), for the flush.
void collectFiles(const fs::path& path, std::vector<fs::path>& files) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error))) {
        files.push_back(path);
        return;
    }
    for (fs::recursive_directory_iterator entry(path, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->is_regular_file(error)) files.push_back(entry->path());
    }
}

}  // namespace

InstallBackup::InstallBackup(const std::string& rootDir, const std::string& updateDir,
                             const std::vector<std::string>& heldPaths)
    : rootDir_(rootDir),
      backupDir_(joinPath(updateDir, "backup")),
      heldDir_(joinPath(updateDir, "held")),
      discardDir_(joinPath(updateDir, "discarded")),
      journalPath_(joinPath(updateDir, "install.journal")),
      guard_(joinPath(updateDir, "copy.guard")),
      heldPaths_(heldPaths) {}

bool InstallBackup::prepare(const std::string& releaseTree) {
    std::error_code error;
    for (const std::string& leftover : {backupDir_, heldDir_}) {
        fs::remove_all(platform::nativePath(leftover), error);
        if (fileExists(leftover)) return false;
    }
    Planner planner{platform::nativePath(releaseTree), platform::nativePath(rootDir_), {}, {}};
    for (const std::string& held : heldPaths_)
        planner.heldPaths.push_back(platform::nativePath(held));
    if (!planner.plan(fs::path(), false)) return false;
    journal_ = {planner.entries, false};
    known_ = true;
    const auto write = [&] {
        return replaceFileWithText(journalPath_, journalPath_ + ".new", journalText(journal_));
    };
    if (!write()) {
        std::remove(journalPath_.c_str());
        return false;
    }
    // Renames on the same volume: no bytes are copied.
    const fs::path root = planner.root, backup = platform::nativePath(backupDir_);
    const fs::path held = platform::nativePath(heldDir_);
    for (const JournalEntry& entry : journal_.entries) {
        const fs::path piece = platform::nativePath(entry.path);
        bool moved = true;
        if (entry.kind == Kind::Replaced) {
            moved =
                createParent(backup / piece) && platform::moveEntry(root / piece, backup / piece);
        } else if (entry.kind == Kind::Placed || entry.kind == Kind::PlacedOver) {
            moved = createParent(held / piece) &&
                    platform::moveEntry(planner.release / piece, held / piece);
        }
        if (!moved) {
            undo();
            return false;
        }
    }
    journal_.moved = true;
    if (write()) return true;
    journal_.moved = false;
    undo();
    return false;
}

bool InstallBackup::underWay() const {
    return fileExists(journalPath_);
}

bool InstallBackup::load() {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(platform::nativePath(journalPath_), error);
    std::string text;
    known_ = !error && size <= journalByteLimit && readWholeFile(journalPath_, text) &&
             parseJournal(text, journal_);
    return known_;
}

bool InstallBackup::finish() {
    const fs::path root = platform::nativePath(rootDir_), backup = platform::nativePath(backupDir_);
    const fs::path held = platform::nativePath(heldDir_);
    std::vector<fs::path> newFiles;
    bool whole = known_ && journal_.moved;
    for (const JournalEntry& entry : journal_.entries) {
        const fs::path piece = platform::nativePath(entry.path), installed = root / piece;
        if (entry.kind == Kind::Placed && present(held / piece)) {
            whole =
                whole && createParent(installed) && platform::moveEntry(held / piece, installed);
        } else if (entry.kind == Kind::PlacedOver && present(held / piece)) {
            // Cut between the two renames of a running program's file: only
            // the second is left to do.
            const bool keptAlready = !present(installed) && present(backup / piece);
            whole =
                whole && createParent(backup / piece) &&
                (keptAlready ? platform::moveEntry(held / piece, installed)
                             : platform::replaceKeeping(held / piece, installed, backup / piece));
        }
        whole = whole && present(installed);
        collectFiles(installed, newFiles);
    }
    return platform::putOnDisk(newFiles, root) && whole;
}

bool InstallBackup::restorable() const {
    const fs::path backup = platform::nativePath(backupDir_);
    const fs::path held = platform::nativePath(heldDir_);
    for (const JournalEntry& entry : journal_.entries) {
        const fs::path piece = platform::nativePath(entry.path);
        // A file the backup lacks never moved, or is lost: only the journal
        // can tell.
        if (!journal_.moved || present(backup / piece)) continue;
        if (entry.kind == Kind::Replaced) return false;
        if (entry.kind == Kind::PlacedOver && !present(held / piece)) return false;
    }
    return true;
}

bool InstallBackup::undo() {
    const fs::path root = platform::nativePath(rootDir_), backup = platform::nativePath(backupDir_);
    const fs::path held = platform::nativePath(heldDir_);
    // What cannot be put back whole is left as it is, for a person to see.
    if (!known_ || !restorable()) return false;
    bool whole = true;
    std::error_code error;
    // Before the journal says moved, the copy never ran: nothing was added.
    for (auto entry = journal_.entries.rbegin(); journal_.moved && entry != journal_.entries.rend();
         ++entry) {
        const fs::path installed = root / platform::nativePath(entry->path);
        const bool placedNew =
            entry->kind == Kind::Placed && !present(held / platform::nativePath(entry->path));
        if (entry->kind != Kind::Added && !placedNew) continue;
        fs::remove_all(installed, error);
        whole = whole && !error;
    }
    for (const JournalEntry& entry : journal_.entries) {
        const fs::path piece = platform::nativePath(entry.path);
        const fs::path kept = backup / piece, installed = root / piece;
        if (entry.kind != Kind::Replaced && entry.kind != Kind::PlacedOver) continue;
        if (!present(kept) || platform::moveEntry(kept, installed)) continue;
        // A running program's file (the updater's, when a run undoes what an
        // earlier one left) cannot be replaced on Windows, but it can be moved.
        const fs::path discarded = platform::nativePath(discardDir_) / piece;
        fs::remove(discarded, error);
        whole = whole && createParent(discarded) && platform::moveEntry(installed, discarded) &&
                platform::moveEntry(kept, installed);
    }
    if (!whole) return false;
    std::remove(journalPath_.c_str());
    removeLeftovers();
    return true;
}

void InstallBackup::commit() {
    // Without the journal the new release stands, and the backup is only a
    // leftover; the journal's removal is on the disk before the backup goes.
    std::remove(journalPath_.c_str());
    platform::putOnDisk({}, platform::nativePath(rootDir_));
}

void InstallBackup::removeLeftovers() {
    std::error_code error;
    for (const std::string& folder : {backupDir_, heldDir_, discardDir_})
        fs::remove_all(platform::nativePath(folder), error);
    if (!platform::guardHeld(guard_)) std::remove(guard_.c_str());
}

std::uintmax_t InstallBackup::copiedBytes() const {
    const fs::path root = platform::nativePath(rootDir_);
    std::uintmax_t bytes = 0;
    for (const JournalEntry& entry : journal_.entries) {
        if (entry.kind != Kind::Added && entry.kind != Kind::Replaced) continue;
        std::vector<fs::path> files;
        collectFiles(root / platform::nativePath(entry.path), files);
        for (const fs::path& file : files) {
            std::error_code error;
            const std::uintmax_t size = fs::file_size(file, error);
            // One byte more a file, so that empty files count as progress too.
            if (!error) bytes += size + 1;
        }
    }
    return bytes;
}
