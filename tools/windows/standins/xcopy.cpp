// xcopy.exe for Wine: copies a tree as Windows' xcopy does with the
// updater's switches (/y /e /h /i /q), where Wine 10's own xcopy falls short:
// - it takes no quoted folder with a blank in its name ("...\Program
//   Files\..." gives "Invalid number of parameters");
// - it goes on after a file it could not write, and drops the status of
//   every subfolder it copies (programs/xcopy/xcopy.c ignores what the
//   recursive XCOPY_DoCopy returns), so such a copy gives 0.
// Windows' xcopy without /C copies the files of a folder before its
// subfolders and stops at the first file or folder it cannot write, with the
// files before it copied, and gives a non-zero status; so does this program
// (5, Windows' "disk write error"). Wine 10's cmd then skips what follows
// "&&", as Windows does. Hidden and system files are copied like any other
// (/h); every folder is made, empty or not (/e); existing files are
// overwritten without asking (/y).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int diskWriteError = 5;

class FindHandle {
public:
    FindHandle(const std::wstring& pattern, WIN32_FIND_DATAW& found)
        : handle_(FindFirstFileW(pattern.c_str(), &found)) {}
    ~FindHandle() {
        if (valid()) FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// The words of the command line as xcopy reads them: separated by blanks or
// a '/' outside quotes, the quotes then removed; a backslash escapes nothing.
std::vector<std::wstring> wordsOf(const std::wstring& commandLine) {
    std::vector<std::wstring> words;
    std::wstring word;
    bool inQuotes = false;
    for (wchar_t c : commandLine) {
        if (c == L'"') {
            inQuotes = !inQuotes;
            continue;
        }
        if (!inQuotes && (c == L' ' || c == L'\t' || c == L'/')) {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (c == L'/') word = L"/";
            continue;
        }
        word += c;
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

std::wstring withoutTrailingSeparator(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// What follows the program's name on the command line, blanks included.
std::wstring argumentsOf(const std::wstring& commandLine) {
    std::wstring::size_type end = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        end = commandLine.find(L'"', 1);
        end = end == std::wstring::npos ? commandLine.size() : end + 1;
    } else {
        end = commandLine.find_first_of(L" \t");
        if (end == std::wstring::npos) end = commandLine.size();
    }
    return commandLine.substr(end);
}

bool makeFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool fails(const std::wstring& path) {
    std::fwprintf(stderr, L"xcopy stand-in: cannot write %ls (error %lu)\n", path.c_str(),
                  GetLastError());
    return false;
}

// The files of `source` first, then each subfolder in turn; false at the
// first thing that cannot be written.
bool copyTree(const std::wstring& source, const std::wstring& copy) {
    if (!makeFolder(copy)) return fails(copy);
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW found = {};
    FindHandle find(source + L"\\*", found);
    if (!find.valid()) return true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(name);
            continue;
        }
        const std::wstring to = copy + L"\\" + name;
        // /y over a read-only or hidden file: xcopy clears what would refuse it.
        const DWORD existing = GetFileAttributesW(to.c_str());
        if (existing != INVALID_FILE_ATTRIBUTES && !(existing & FILE_ATTRIBUTE_DIRECTORY))
            SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!CopyFileW((source + L"\\" + name).c_str(), to.c_str(), FALSE)) return fails(to);
    } while (FindNextFileW(find.get(), &found));
    for (const std::wstring& name : folders) {
        if (!copyTree(source + L"\\" + name, copy + L"\\" + name)) return false;
    }
    return true;
}

}  // namespace

int main() {
    std::vector<std::wstring> paths;
    for (const std::wstring& word : wordsOf(argumentsOf(GetCommandLineW()))) {
        if (word[0] != L'/') paths.push_back(withoutTrailingSeparator(word));
    }
    if (paths.size() != 2) return 4;  // xcopy's "invalid syntax"
    return copyTree(paths[0], paths[1]) ? 0 : diskWriteError;
}
