#include "support/test_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Debian's own interpreter starts in a fraction of the time a version
// manager's shim in front of python3 takes.
std::string pythonCommand() {
    return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// The shim in front of python3 may take a second or more to start it.
constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kStopLimit = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string toolPath(const std::string& name) {
    return std::string(PELORIN_SOURCE_DIR) + "/tools/update_server/" + name;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeWholeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// Starts argv[0] (searched on PATH) with stdout and stderr going to
// outputPath. Everything the child needs is built before the fork.
pid_t spawn(const std::vector<std::string>& argv, const std::string& outputPath) {
    FileDescriptor output(
        ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (output.get() < 0) throw std::runtime_error("cannot create " + outputPath);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        ::dup2(output.get(), 1);
        ::dup2(output.get(), 2);
        ::execvp(args[0], args.data());
        const char failed[] = "cannot start the program: ";
        (void)!::write(2, failed, sizeof failed - 1);
        (void)!::write(2, args[0], std::strlen(args[0]));
        ::_exit(127);
    }
    return pid;
}

// True when the child ended within `limit`; it is reaped then.
bool reapWithin(pid_t pid, std::chrono::steady_clock::duration limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

// Made once per test process: every certificate kind, ready to present.
// Made again should a test have removed the directory (it may sit in a
// temporary directory that a test replaced).
const std::string& certificateDir() {
    static TempDir dir;
    if (!fs::exists(dir.path() + "/wronghost-server.pem")) {
        fs::create_directories(dir.path());
        std::string output = dir.path() + "/make_certs.out";
        pid_t pid = spawn({"sh", toolPath("make_certs.sh"), dir.path()}, output);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("make_certs.sh failed:\n" + readWholeFile(output));
    }
    return dir.path();
}

std::string certBaseName(ServerCert cert) {
    switch (cert) {
        case ServerCert::ForeignCa:
            return "foreign-server";
        case ServerCert::WrongHost:
            return "wronghost-server";
        case ServerCert::Good:
            break;
    }
    return "server";
}

std::string jsonQuoted(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

// The server writes every text it received as ISO-8859-1 code points, so a
// \u00XX escape stands for the byte XX itself.
std::string decodeJsonString(const std::string& line, size_t& pos) {
    std::string text;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] != '\\' || pos + 1 >= line.size()) {
            text += line[pos];
            continue;
        }
        char c = line[++pos];
        switch (c) {
            case 'b':
                text += '\b';
                break;
            case 'f':
                text += '\f';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'u':
                text += static_cast<char>(std::stoul(line.substr(pos + 1, 4), nullptr, 16));
                pos += 4;
                break;
            default:
                text += c;
        }
    }
    ++pos;
    return text;
}

// Every string of one log line, in order: "method", M, "path", P,
// "headers", then name and value of each header.
std::vector<std::string> jsonStrings(const std::string& line) {
    std::vector<std::string> strings;
    size_t pos = 0;
    while ((pos = line.find('"', pos)) != std::string::npos)
        strings.push_back(decodeJsonString(line, pos));
    return strings;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

bool ReceivedRequest::hasHeader(const std::string& name) const {
    for (const auto& header : headers)
        if (sameName(header.first, name)) return true;
    return false;
}

std::string ReceivedRequest::header(const std::string& name) const {
    for (const auto& header : headers)
        if (sameName(header.first, name)) return header.second;
    return "";
}

TestServer::TestServer(ServerCert cert, int port) : rootDir_(dir_.path() + "/root") {
    fs::create_directories(rootDir_);
    start(cert, port);
    waitUntilListening();
}

TestServer::~TestServer() {
    stop();
}

void TestServer::start(ServerCert cert, int port) {
    const std::string& certs = certificateDir();
    std::string base = certs + "/" + certBaseName(cert);
    pid_ = spawn({pythonCommand(), toolPath("update_server.py"), "--port", std::to_string(port),
                  "--port-file", dir_.path() + "/port", "--root", rootDir_, "--cert", base + ".pem",
                  "--key", base + ".key", "--rules", dir_.path() + "/rules.json", "--request-log",
                  requestLogPath(), "--parent-pid", std::to_string(::getpid())},
                 dir_.path() + "/server.out");
}

void TestServer::waitUntilListening() {
    std::string portFile = dir_.path() + "/port";
    auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!fs::exists(portFile)) {
        bool ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        if (ended) pid_ = -1;
        if (ended || std::chrono::steady_clock::now() >= deadline) {
            stop();
            throw std::runtime_error(
                std::string("the test update server ") +
                (ended ? "ended before listening" : "was not listening after 30 s") +
                "; its output:\n" + serverOutput());
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    port_ = std::stoi(readWholeFile(portFile));
}

void TestServer::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!reapWithin(pid_, kStopLimit)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

std::string TestServer::url(const std::string& path) const {
    std::string base = "https://localhost:" + std::to_string(port_);
    return path.empty() || path[0] != '/' ? base + "/" + path : base + path;
}

std::string TestServer::caBundlePath() {
    return certificateDir() + "/ca.pem";
}

std::string TestServer::putFile(const std::string& urlPath, const std::string& content) const {
    fs::path file = fs::path(rootDir_) / fs::path(urlPath).relative_path();
    fs::create_directories(file.parent_path());
    writeWholeFile(file.string(), content);
    return file.string();
}

void TestServer::setRule(const std::string& urlPath, const std::string& ruleJson) {
    rules_[urlPath] = ruleJson;
    writeRules();
}

void TestServer::clearRule(const std::string& urlPath) {
    rules_.erase(urlPath);
    writeRules();
}

// The server re-reads the file on every request; the rename makes sure it
// never reads one half written.
void TestServer::writeRules() const {
    std::string json = "{";
    for (const auto& rule : rules_) {
        if (json.size() > 1) json += ",\n";
        json += jsonQuoted(rule.first) + ": " + rule.second;
    }
    json += "}\n";
    std::string path = dir_.path() + "/rules.json";
    writeWholeFile(path + ".tmp", json);
    fs::rename(path + ".tmp", path);
}

std::vector<ReceivedRequest> TestServer::requests() const {
    std::vector<ReceivedRequest> requests;
    std::istringstream log(readWholeFile(requestLogPath()));
    std::string line;
    while (std::getline(log, line)) {
        std::vector<std::string> s = jsonStrings(line);
        if (s.size() < 5 || s[0] != "method" || s[2] != "path" || s[4] != "headers")
            throw std::runtime_error("unexpected request log line: " + line);
        ReceivedRequest request{s[1], s[3], {}};
        for (size_t i = 5; i + 1 < s.size(); i += 2) request.headers.emplace_back(s[i], s[i + 1]);
        requests.push_back(request);
    }
    return requests;
}

std::string TestServer::requestLogPath() const {
    return dir_.path() + "/requests.log";
}

std::string TestServer::serverOutput() const {
    return readWholeFile(dir_.path() + "/server.out");
}
