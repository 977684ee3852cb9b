// msiexec.exe for Wine, whose own has no administrative install: carries out
// "msiexec.exe /a PACKAGE TARGETDIR=DIR /quiet" with msitools on the Linux
// side (msiexec-unpack.sh beside this program), laying out the administrative
// image as the updater expects it: the package's tree under DIR and a copy of
// the package in DIR, made last.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int installFailure = 1603;         // ERROR_INSTALL_FAILURE
constexpr int packageInvalid = 1620;         // ERROR_INSTALL_PACKAGE_INVALID
constexpr int invalidCommandLine = 1639;     // ERROR_INVALID_COMMAND_LINE
constexpr DWORD unpackTimeLimitMs = 600000;  // far beyond any sample package

// Wine's own kernel32 exports, for crossing between the two file systems.
using ToUnix = char*(CDECL*)(const WCHAR*);
using ToWindows = WCHAR*(CDECL*)(const char*);

std::wstring widen(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string narrow(const std::wstring& text) {
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &result[0], length, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

// Through void*: a FARPROC does not cast to another function type cleanly.
void* wineExport(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name));
}

// The Linux path of a Windows path; empty when there is none (or no Wine).
// Wine converts only paths whose parent exists, so the missing folders of a
// target directory are carried over by name.
std::string unixPath(const std::string& windowsPath) {
    const auto toUnix = reinterpret_cast<ToUnix>(wineExport("wine_get_unix_file_name"));
    if (!toUnix) return std::string();
    char* converted = toUnix(widen(windowsPath).c_str());
    if (converted) {
        std::string result = converted;
        HeapFree(GetProcessHeap(), 0, converted);
        return result;
    }
    const std::string::size_type separator = windowsPath.find_last_of('\\');
    if (separator == std::string::npos || separator + 1 == windowsPath.size()) return std::string();
    const std::string parent = unixPath(windowsPath.substr(0, separator));
    return parent.empty() ? parent : parent + "/" + windowsPath.substr(separator + 1);
}

std::string windowsPath(const std::string& linuxPath) {
    const auto toWindows = reinterpret_cast<ToWindows>(wineExport("wine_get_dos_file_name"));
    if (!toWindows) return std::string();
    WCHAR* converted = toWindows(linuxPath.c_str());
    if (!converted) return std::string();
    std::string result = narrow(converted);
    HeapFree(GetProcessHeap(), 0, converted);
    return result;
}

std::string ownDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory = path;
    return directory.substr(0, directory.find_last_of('\\'));
}

struct UnpackRequest {
    std::string package;
    std::string targetDir;
};

bool parseArguments(int argc, char** argv, UnpackRequest& request) {
    const std::string targetPrefix = "TARGETDIR=";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "/a" || argument == "/A") && i + 1 < argc) {
            request.package = argv[++i];
        } else if (_strnicmp(argument.c_str(), targetPrefix.c_str(), targetPrefix.size()) == 0) {
            request.targetDir = argument.substr(targetPrefix.size());
        }
    }
    return !request.package.empty() && !request.targetDir.empty();
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// A Linux program started from Wine gives back no handle to wait on, so the
// script reports its status through a file that appears when it is done.
int runUnpackScript(const UnpackRequest& request) {
    char tempDir[MAX_PATH] = {};
    char marker[MAX_PATH] = {};
    if (!GetTempPathA(MAX_PATH, tempDir) || !GetTempFileNameA(tempDir, "msi", 0, marker)) {
        return installFailure;
    }
    const std::string statusFile = std::string(marker) + ".status";
    const std::string shell = windowsPath("/bin/sh");
    const std::string script = unixPath(ownDirectory() + "\\msiexec-unpack.sh");
    const std::string package = unixPath(request.package);
    const std::string target = unixPath(request.targetDir);
    const std::string status = unixPath(statusFile);
    if (shell.empty() || script.empty() || package.empty() || target.empty() || status.empty()) {
        DeleteFileA(marker);
        return installFailure;
    }
    std::string commandLine = "sh " + quoted(script) + " " + quoted(package) + " " +
                              quoted(target) + " " + quoted(status);
    STARTUPINFOA startupInfo = {};
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo = {};
    if (!CreateProcessA(shell.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startupInfo, &processInfo)) {
        DeleteFileA(marker);
        return installFailure;
    }
    if (processInfo.hProcess) CloseHandle(processInfo.hProcess);
    if (processInfo.hThread) CloseHandle(processInfo.hThread);

    int result = installFailure;
    for (DWORD waited = 0; waited < unpackTimeLimitMs; waited += 50) {
        FILE* file = std::fopen(statusFile.c_str(), "r");
        if (!file) {
            Sleep(50);
            continue;
        }
        int scriptStatus = -1;
        const bool read = std::fscanf(file, "%d", &scriptStatus) == 1;
        std::fclose(file);
        result = read && scriptStatus == 0 ? 0 : packageInvalid;
        break;
    }
    DeleteFileA(statusFile.c_str());
    DeleteFileA(marker);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    UnpackRequest request;
    if (!parseArguments(argc, argv, request)) {
        std::fprintf(stderr, "msiexec stand-in: only /a PACKAGE TARGETDIR=DIR is known\n");
        return invalidCommandLine;
    }
    return runUnpackScript(request);
}
