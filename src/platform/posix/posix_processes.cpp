// Processes on POSIX: the process list from /proc, children through /bin/sh.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/platform.h"

namespace {

// The process group of the last detached child, 0 before the first.
pid_t lastGroup = 0;

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

bool isProcessId(const char* name) {
    for (const char* c = name; *c; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
    }
    return *name != '\0';
}

std::string fileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// The executable's own file name, not the 15-character command name, so that
// long names like the updater's compare whole.
bool executableFileName(const std::string& processDir, std::string& name) {
    char target[4096];
    const ssize_t length = ::readlink((processDir + "/exe").c_str(), target, sizeof target - 1);
    if (length <= 0) return false;
    std::string path(target, static_cast<std::size_t>(length));
    const std::string deletedMark = " (deleted)";
    if (path.size() > deletedMark.size() &&
        path.compare(path.size() - deletedMark.size(), deletedMark.size(), deletedMark) == 0) {
        path.erase(path.size() - deletedMark.size());
    }
    name = fileNameOf(path);
    return true;
}

// Only root may read the executable link of another user's process, but every
// user may read its command line: the file name of its first argument, which
// is how the process was started.
bool startedFileName(const std::string& processDir, std::string& name) {
    std::ifstream commandLine(processDir + "/cmdline", std::ios::binary);
    std::string firstArgument;
    if (!std::getline(commandLine, firstArgument, '\0') || firstArgument.empty()) return false;
    name = fileNameOf(firstArgument);
    return true;
}

void redirectStandardStreamsToNull() {
    const int nullDevice = ::open("/dev/null", O_RDWR);
    if (nullDevice < 0) return;
    ::dup2(nullDevice, STDIN_FILENO);
    ::dup2(nullDevice, STDOUT_FILENO);
    ::dup2(nullDevice, STDERR_FILENO);
    if (nullDevice > STDERR_FILENO) ::close(nullDevice);
}

}  // namespace

namespace platform {

std::vector<std::wstring> runningProcessNames() {
    std::vector<std::wstring> names;
    std::unique_ptr<DIR, DirectoryCloser> proc(::opendir("/proc"));
    if (!proc) return names;
    while (const dirent* entry = ::readdir(proc.get())) {
        std::string name;
        if (!isProcessId(entry->d_name)) continue;
        const std::string processDir = std::string("/proc/") + entry->d_name;
        if (executableFileName(processDir, name) || startedFileName(processDir, name)) {
            names.push_back(widenPath(name));
        }
    }
    return names;
}

DetachedStart startDetached(const std::string& commandLine, const std::string& guardPath) {
    // Two forks, so that the child is adopted by init and never waits as a
    // zombie on an updater that does not collect it. The intermediate leads a
    // session of its own, whose group every process of the copy shares, and
    // takes the guard's lock, which the child's inherited descriptor keeps
    // until the last of them has closed it.
    const pid_t intermediate = ::fork();
    if (intermediate < 0) return DetachedStart::Failed;
    if (intermediate == 0) {
        ::setsid();
        const int guard = ::open(guardPath.c_str(), O_RDWR | O_CREAT, 0644);
        if (guard < 0 || ::flock(guard, LOCK_EX | LOCK_NB) != 0) ::_exit(1);
        const pid_t child = ::fork();
        if (child == 0) {
            redirectStandardStreamsToNull();
            // The guard alone of the updater's files: the log and its
            // connections are none of the copy's business.
            if (guard > STDERR_FILENO + 1) ::close_range(STDERR_FILENO + 1, guard - 1, 0);
            ::close_range(guard + 1, ~0U, 0);
            ::execl("/bin/sh", "sh", "-c", commandLine.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::_exit(child < 0 ? 1 : 0);
    }
    int status = 0;
    ::waitpid(intermediate, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return DetachedStart::Failed;
    lastGroup = intermediate;
    return DetachedStart::Started;
}

bool guardHeld(const std::string& guardPath) {
    const int guard = ::open(guardPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (guard < 0) return false;
    const bool held = ::flock(guard, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(guard);
    return held;
}

void endDetached(const std::string& guardPath) {
    // Only while the guard is held does the group still exist, so its number
    // names no other processes.
    if (lastGroup > 0 && guardHeld(guardPath)) ::kill(-lastGroup, SIGKILL);
}

int runCommand(const std::string& commandLine) {
    const int status = std::system(commandLine.c_str());
    if (status == -1) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

void sleepMilliseconds(unsigned milliseconds) {
    ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

}  // namespace platform
