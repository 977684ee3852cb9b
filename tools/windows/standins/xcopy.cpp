// xcopy.exe for Wine: runs Wine's own xcopy and makes the copy behave as on
// Windows, where Wine 10's xcopy falls short twice:
// - it takes no quoted folder with a blank in its name ("...\Program
//   Files\..." gives "Invalid number of parameters"), so it is handed both
//   folders in their 8.3 forms, which name the same folders;
// - it drops the status of every subfolder it copies (programs/xcopy/xcopy.c
//   ignores what the recursive XCOPY_DoCopy returns), so a file that could
//   not be copied below the top folder gives 0. After a 0 this program
//   compares the two trees and gives 5 (Windows' "disk write error") when
//   something was not copied; Wine 10's cmd then skips what follows "&&", as
//   Windows does.
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

bool sameFile(const std::wstring& source, const std::wstring& copy) {
    WIN32_FILE_ATTRIBUTE_DATA sourceData = {};
    WIN32_FILE_ATTRIBUTE_DATA copyData = {};
    return GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &sourceData) &&
           GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &copyData) &&
           !(copyData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           sourceData.nFileSizeHigh == copyData.nFileSizeHigh &&
           sourceData.nFileSizeLow == copyData.nFileSizeLow;
}

bool isDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether every file and folder below `source` has its like below `copy`.
bool treeCopied(const std::wstring& source, const std::wstring& copy) {
    WIN32_FIND_DATAW found = {};
    FindHandle find(source + L"\\*", found);
    if (!find.valid()) return true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring from = source + L"\\" + name;
        const std::wstring to = copy + L"\\" + name;
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder ? !isDirectory(to) : !sameFile(from, to)) {
            std::fwprintf(stderr, L"xcopy stand-in: %ls was not copied\n", from.c_str());
            return false;
        }
        if (folder && !treeCopied(from, to)) return false;
    } while (FindNextFileW(find.get(), &found));
    return true;
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

int runWineXcopy(const std::wstring& arguments) {
    wchar_t systemDir[MAX_PATH] = {};
    if (!GetSystemDirectoryW(systemDir, MAX_PATH)) return diskWriteError;
    const std::wstring program = std::wstring(systemDir) + L"\\xcopy.exe";
    std::wstring commandLine = L"\"" + program + L"\"" + arguments;
    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startupInfo, &processInfo)) {
        return diskWriteError;
    }
    WaitForSingleObject(processInfo.hProcess, INFINITE);
    DWORD status = diskWriteError;
    GetExitCodeProcess(processInfo.hProcess, &status);
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return static_cast<int>(status);
}

// The 8.3 form of `path`; for a path that does not exist yet, that of its
// parent with the last name kept.
std::wstring shortPath(const std::wstring& path) {
    const DWORD length = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (length) {
        std::wstring result(length, L'\0');
        result.resize(GetShortPathNameW(path.c_str(), &result[0], length));
        return result;
    }
    const std::wstring::size_type separator = path.find_last_of(L'\\');
    if (separator == std::wstring::npos || separator < 3) return path;
    return shortPath(path.substr(0, separator)) + path.substr(separator);
}

// The words again as one command line, the folders in their 8.3 forms.
std::wstring argumentsWithShortPaths(const std::vector<std::wstring>& words) {
    std::wstring arguments;
    for (const std::wstring& word : words) {
        const bool option = word[0] == L'/';
        arguments += L' ';
        arguments += option ? word : L"\"" + shortPath(withoutTrailingSeparator(word)) + L"\"";
    }
    return arguments;
}

}  // namespace

int main() {
    const std::vector<std::wstring> words = wordsOf(argumentsOf(GetCommandLineW()));
    int status = runWineXcopy(argumentsWithShortPaths(words));
    if (status == 0) {
        std::vector<std::wstring> paths;
        for (const std::wstring& word : words) {
            if (word[0] != L'/') paths.push_back(withoutTrailingSeparator(word));
        }
        if (paths.size() == 2 && !treeCopied(paths[0], paths[1])) status = diskWriteError;
    }
    return status;
}
