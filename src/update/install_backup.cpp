#include "update/install_backup.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "core/path_utils.h"
#include "platform/platform.h"
#include "platform/stdio_file.h"

namespace fs = std::filesystem;

namespace {

// One line per entry, its path relative to the installation with '/'
// between the pieces, on every platform.
const std::string addedMark = "added ", replacedMark = "replaced ";

// The entries of the release below `relative` that the installation lacks
// (a folder counts once, whole) and the files it holds in their place. False
// when the release tree could not be read whole.
bool planEntries(const fs::path& release, const fs::path& root, const fs::path& relative,
                 std::vector<std::string>& lines) {
    std::error_code walking;
    fs::directory_iterator entry(release / relative, walking), end;
    for (; !walking && entry != end; entry.increment(walking)) {
        std::error_code looking;
        const fs::path piece = relative / entry->path().filename();
        const fs::file_status installed = fs::symlink_status(root / piece, looking);
        const bool folder = entry->is_directory(looking);
        if (looking) return false;
        if (!fs::exists(installed)) {
            lines.push_back(addedMark + piece.generic_string());
        } else if (folder && fs::is_directory(installed)) {
            if (!planEntries(release, root, piece, lines)) return false;
        } else if (!folder && (fs::is_regular_file(installed) || fs::is_symlink(installed))) {
            lines.push_back(replacedMark + piece.generic_string());
        }
    }
    return !walking;
}

bool writeDurably(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return replaceFileWithText(path, path + ".new", text);
}

}  // namespace

InstallBackup::InstallBackup(const std::string& rootDir, const std::string& updateDir,
                             const std::string& ownFile)
    : rootDir_(rootDir),
      ownFile_(ownFile),
      backupDir_(joinPath(updateDir, "backup")),
      discardDir_(joinPath(updateDir, "discarded")),
      journal_(joinPath(updateDir, "install.journal")),
      guard_(joinPath(updateDir, "copy.guard")) {}

bool InstallBackup::prepare(const std::string& releaseTree) {
    std::error_code error;
    fs::remove_all(backupDir_, error);
    if (fs::exists(backupDir_, error)) return false;
    std::vector<std::string> lines;
    if (!planEntries(releaseTree, rootDir_, fs::path(), lines)) return false;
    if (!writeDurably(journal_, lines)) {
        std::remove(journal_.c_str());
        return false;
    }
    // A rename on the same volume: no bytes are copied, and a running program's
    // file (the updater's own, when the release carries it) may be renamed
    // where it cannot be overwritten.
    for (const std::string& line : lines) {
        if (line.compare(0, replacedMark.size(), replacedMark) != 0) continue;
        const fs::path piece(line.substr(replacedMark.size()));
        fs::create_directories((fs::path(backupDir_) / piece).parent_path(), error);
        const fs::path installed = fs::path(rootDir_) / piece, kept = fs::path(backupDir_) / piece;
        // The updater's own file is back in its place at once, as a whole
        // copy that the copy may overwrite: a run that ends before the copy
        // has written the release's leaves the scheduled task an updater to
        // start, which then undoes the install.
        const bool own = installed.lexically_normal() == fs::path(ownFile_).lexically_normal();
        const fs::path copy = kept.string() + ".copy";
        if (own) fs::copy_file(installed, copy, error);
        if (!error) fs::rename(installed, kept, error);
        if (!error && own) fs::rename(copy, installed, error);
        if (error) {
            undo();
            return false;
        }
    }
    return true;
}

bool InstallBackup::undo() {
    std::vector<std::string> lines;
    std::ifstream journal(journal_, std::ios::binary);
    for (std::string line; std::getline(journal, line);) lines.push_back(line);
    journal.close();
    bool whole = true;
    std::error_code error;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (line->compare(0, addedMark.size(), addedMark) != 0) continue;
        fs::remove_all(fs::path(rootDir_) / line->substr(addedMark.size()), error);
        whole = whole && !error;
    }
    for (const std::string& line : lines) {
        if (line.compare(0, replacedMark.size(), replacedMark) != 0) continue;
        const fs::path piece(line.substr(replacedMark.size()));
        const fs::path kept = fs::path(backupDir_) / piece, installed = fs::path(rootDir_) / piece;
        // Not moved aside yet: the installed file never left its place.
        if (!fs::exists(fs::symlink_status(kept, error))) continue;
        // A running program's file (the updater's, when a run undoes what an
        // earlier one left) cannot be removed on Windows, but it can be moved.
        if (!fs::remove(installed, error) && error) {
            const fs::path discarded = fs::path(discardDir_) / piece;
            fs::create_directories(discarded.parent_path(), error);
            fs::remove(discarded, error);
            fs::rename(installed, discarded, error);
        }
        fs::rename(kept, installed, error);
        whole = whole && !error;
    }
    if (!whole) return false;
    std::remove(journal_.c_str());
    removeLeftovers();
    return true;
}

void InstallBackup::commit() {
    // Without the journal the new release stands, and the backup is only a
    // leftover.
    std::remove(journal_.c_str());
}

bool InstallBackup::underWay() const {
    return fileExists(journal_);
}

void InstallBackup::removeLeftovers() {
    std::error_code error;
    fs::remove_all(backupDir_, error);
    fs::remove_all(discardDir_, error);
    if (!platform::guardHeld(guard_)) std::remove(guard_.c_str());
}
