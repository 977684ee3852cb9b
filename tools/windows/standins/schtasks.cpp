// schtasks.exe for Wine, whose own cannot create a task from a schedule given
// on the command line ("/Create /SC ..." gives 1): appends every command line
// it is given, as it arrived, to the file named by PELORIN_SCHTASKS_RECORD,
// answers "/Create /SC" itself with success, and hands every other command
// ("/Create /xml", "/delete") to Wine's own schtasks, whose status it returns.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Words as the command interpreter separates them: blanks outside quotes.
std::vector<std::string> wordsOf(const std::string& commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inQuotes = false;
    for (char c : commandLine) {
        if (c == '"') inQuotes = !inQuotes;
        if ((c == ' ' || c == '\t') && !inQuotes) {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

bool sameWord(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool hasWord(const std::vector<std::string>& words, const std::string& wanted) {
    for (const std::string& word : words) {
        if (sameWord(word, wanted)) return true;
    }
    return false;
}

void record(const std::string& commandLine) {
    const char* recordPath = std::getenv("PELORIN_SCHTASKS_RECORD");
    if (!recordPath || !*recordPath) return;
    FILE* file = std::fopen(recordPath, "ab");
    if (!file) return;
    std::fwrite(commandLine.data(), 1, commandLine.size(), file);
    std::fputc('\n', file);
    std::fclose(file);
}

// What follows the program's name on the command line, blanks included.
std::string argumentsOf(const std::string& commandLine) {
    std::string::size_type end = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        end = commandLine.find('"', 1);
        end = end == std::string::npos ? commandLine.size() : end + 1;
    } else {
        end = commandLine.find_first_of(" \t");
        if (end == std::string::npos) end = commandLine.size();
    }
    return commandLine.substr(end);
}

int runWineSchtasks(const std::string& arguments) {
    char systemDir[MAX_PATH] = {};
    if (!GetSystemDirectoryA(systemDir, MAX_PATH)) return 1;
    const std::string program = std::string(systemDir) + "\\schtasks.exe";
    std::string commandLine = "\"" + program + "\"" + arguments;
    STARTUPINFOA startupInfo = {};
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startupInfo, &processInfo)) {
        return 1;
    }
    WaitForSingleObject(processInfo.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(processInfo.hProcess, &status);
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return static_cast<int>(status);
}

}  // namespace

int main() {
    const std::string commandLine = GetCommandLineA();
    record(commandLine);
    const std::vector<std::string> words = wordsOf(commandLine);
    if (hasWord(words, "/Create") && hasWord(words, "/SC")) return 0;
    return runWineSchtasks(argumentsOf(commandLine));
}
