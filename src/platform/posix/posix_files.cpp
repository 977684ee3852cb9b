// Files, time and the temporary directory on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/posix_commands.h"

namespace platform {

const char pathSeparator = '/';
const char* const updaterExecutableName = "PelorinAutoUpdate";
const char* const browserExecutableName = "Pelorin";
const char* const launcherScriptName = "BatchLauncher.sh";
const char* const taskDefinitionFileName = "PelorinUpdateTask.cron";
constexpr const CommandBuilders& commands = posixCommands;

std::string temporaryDirectory() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string directory = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
    if (directory.back() != '/') directory += '/';
    // The same limit the Windows buffer has.
    return directory.size() < 260 ? directory : std::string();
}

namespace {

// True when someone besides the effective user (and root) may put a file of
// their own in `folder`, or when that cannot be told.
bool othersMayWriteIn(const std::string& folder) {
    struct stat status;
    if (::stat(folder.c_str(), &status) != 0) return true;
    return (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
           (status.st_uid != ::geteuid() && status.st_uid != 0);
}

}  // namespace

FILE* openLogFile(const std::string& path) {
    // Never through a link laid at the name, never held by a planted FIFO,
    // and not emptied before it is known to be ours to empty.
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (descriptor < 0) return nullptr;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat status;
    // A second name elsewhere would let the run empty a file it never meant to.
    const bool ours = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
                      status.st_nlink == 1 &&
                      (status.st_uid == ::geteuid() || !othersMayWriteIn(folder));
    const int flags = ::fcntl(descriptor, F_GETFL);
    FILE* stream = nullptr;
    if (ours && flags >= 0 && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
        ::ftruncate(descriptor, 0) == 0) {
        stream = ::fdopen(descriptor, "w");
    }
    if (!stream) ::close(descriptor);
    return stream;
}

FileStatus fileStatus(const std::string& path) {
    FileStatus result;
    struct stat status;
    if (::stat(path.c_str(), &status) == 0) {
        result.exists = true;
        result.isDirectory = S_ISDIR(status.st_mode);
        result.isRegularFile = S_ISREG(status.st_mode);
    }
    return result;
}

bool freeDiskBytes(const std::string& directory, unsigned long long& bytes) {
    struct statvfs volume;
    if (::statvfs(directory.c_str(), &volume) != 0) return false;
    bytes = static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize;
    return true;
}

bool createDirectory(const std::string& path, bool& alreadyExists) {
    alreadyExists = false;
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    alreadyExists = errno == EEXIST;
    return false;
}

bool flushToDisk(FILE* file) {
    return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    // The rename itself is on the disk once the folder that holds it is.
    const std::size_t slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
    return true;
}

FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool isTerminal(FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

// Paths are bytes here; widening and narrowing byte by byte names the same file.
std::wstring widenPath(const std::string& path) {
    std::wstring wide;
    for (char c : path) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

FILE* openFileWide(const std::wstring& path, const char* mode) {
    std::string narrow;
    for (wchar_t c : path) {
        if (c > 0xFF) return nullptr;
        narrow += static_cast<char>(c);
    }
    return std::fopen(narrow.c_str(), mode);
}

bool localTimeNow(std::tm& out) {
    const std::time_t now = std::time(nullptr);
    return ::localtime_r(&now, &out) != nullptr;
}

long long calendarSeconds() {
    return static_cast<long long>(std::time(nullptr));
}

}  // namespace platform
