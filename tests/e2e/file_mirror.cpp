#include "e2e/file_mirror.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto startLimit = std::chrono::seconds(30);
constexpr auto stopLimit = std::chrono::seconds(5);
constexpr auto pollInterval = std::chrono::milliseconds(20);

// sshd takes its port from its configuration: one that was free a moment ago.
int freePort() {
    return bindLoopback(LoopbackSocket(), 0, false, "an SFTP server");
}

bool accepts(int port) {
    LoopbackSocket socket;
    const sockaddr_in address = loopbackAddress(port);
    return socket.get() >= 0 && ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                                          sizeof address) == 0;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string toolPath(const std::string& name) {
    return std::string(PELORIN_SOURCE_DIR) + "/tools/update_server/" + name;
}

std::string userName() {
    const passwd* user = ::getpwuid(::getuid());
    if (!user) throw std::runtime_error("this process's user has no name");
    return user->pw_name;
}

// Starts argv with stdin empty and its output in outputPath. Everything the
// child needs is made before the fork: the test process has threads.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& outputPath) {
    std::vector<char*> argv;
    for (const std::string& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = input < 0 || output < 0 ? -1 : ::fork();
    if (pid == 0) {
        ::dup2(input, 0);
        ::dup2(output, 1);
        ::dup2(output, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (input >= 0) ::close(input);
    if (output >= 0) ::close(output);
    if (pid < 0) throw std::runtime_error("cannot start " + arguments[0]);
    return pid;
}

}  // namespace

FileMirror::FileMirror(Protocol protocol, const std::string& clientHome)
    : rootDir_(dir_.path() + "/root") {
    fs::create_directories(rootDir_);
    const std::string output = dir_.path() + "/server.out";
    int port = 0;
    if (protocol == Protocol::Ftp) {
        pid_ =
            spawn({"/usr/bin/python3", toolPath("ftp_server.py"), rootDir_, dir_.path() + "/port"},
                  output);
    } else {
        port = freePort();
        pid_ = spawn({"/bin/sh", toolPath("sftp_server.sh"), dir_.path() + "/sshd",
                      std::to_string(port), clientHome},
                     output);
    }
    waitUntilListening(protocol, port);
}

FileMirror::~FileMirror() {
    stop();
}

void FileMirror::waitUntilListening(Protocol protocol, int port) {
    const std::string portFile = dir_.path() + "/port";
    const auto deadline = Clock::now() + startLimit;
    for (;;) {
        if (protocol == Protocol::Ftp && fs::exists(portFile)) {
            baseUrl_ = "ftp://localhost:" + readWholeFile(portFile);
            return;
        }
        if (protocol == Protocol::Sftp && accepts(port)) {
            baseUrl_ = "sftp://" + userName() + "@localhost:" + std::to_string(port) + rootDir_;
            return;
        }
        const bool ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        if (ended) pid_ = -1;
        if (ended || Clock::now() >= deadline) {
            stop();
            throw std::runtime_error("the mirror server did not come up; its output:\n" +
                                     readWholeFile(dir_.path() + "/server.out"));
        }
        std::this_thread::sleep_for(pollInterval);
    }
}

void FileMirror::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + stopLimit;
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    pid_ = -1;
}

void FileMirror::putFile(const std::string& urlPath, const std::string& content) const {
    const fs::path file = fs::path(rootDir_) / fs::path(urlPath).relative_path();
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}
