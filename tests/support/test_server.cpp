#include "support/test_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string toolDir = PELORIN_SOURCE_DIR "/tools/update_server/";

std::string readWholeFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void writeWholeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << content).flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace

const std::string& TestServer::certificateDir() {
    static TempDir dir;
    if (!fs::exists(dir.path() + "/wronghost-server.pem")) {
        const std::string output = dir.path() + ".out";
        const std::string command = "sh '" + toolDir + "make_certs.sh' '" + dir.path() + "' >'";
        fs::create_directories(dir.path());
        if (std::system((command + output + "' 2>&1").c_str()) != 0)
            throw std::runtime_error("make_certs.sh failed:\n" + readWholeFile(output));
    }
    return dir.path();
}

TestServer::TestServer(ServerCert cert, int port) : rootDir_(dir_.path() + "/root") {
    fs::create_directories(rootDir_);
    const char* const names[] = {"/server", "/foreign-server", "/wronghost-server"};
    const std::string base = certificateDir() + names[static_cast<int>(cert)];
    // Debian's own interpreter starts far sooner than a version manager's shim.
    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string output = dir_.path() + "/server.out";
    const std::string command =
        "exec " + python + " '" + toolDir + "update_server.py' --port " + std::to_string(port) +
        " --port-file '" + dir_.path() + "/port' --root '" + rootDir_ + "' --cert '" + base +
        ".pem' --key '" + base + ".key' --rules '" + dir_.path() + "/rules.json' --request-log '" +
        dir_.path() + "/requests.log' --parent-pid " + std::to_string(::getpid()) + " >'" + output +
        "' 2>&1 </dev/null";
    pid_ = ::fork();
    if (pid_ == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (auto deadline = Clock::now() + std::chrono::seconds(30);
         !fs::exists(dir_.path() + "/port");) {
        if (pid_ < 0 || ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
        if (pid_ < 0 || Clock::now() >= deadline) {
            stop();
            throw std::runtime_error("the test server did not come up:\n" + readWholeFile(output));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    port_ = std::stoi(readWholeFile(dir_.path() + "/port"));
}

// The server keeps nothing worth a clean exit.
void TestServer::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string TestServer::url(const std::string& path) const {
    const std::string base = "https://localhost:" + std::to_string(port_);
    return path.empty() || path[0] != '/' ? base + "/" + path : base + path;
}

std::string TestServer::putFile(const std::string& urlPath, const std::string& content) const {
    const fs::path file = fs::path(rootDir_) / fs::path(urlPath).relative_path();
    fs::create_directories(file.parent_path());
    writeWholeFile(file.string(), content);
    return file.string();
}

// The server reads it at every request: the rename keeps it from reading half a file.
void TestServer::writeRules() const {
    std::string json;
    for (const auto& rule : rules_) json += ",\n\"" + rule.first + "\": " + rule.second;
    const std::string path = dir_.path() + "/rules.json";
    writeWholeFile(path + ".tmp", "{" + (json.empty() ? json : json.substr(1)) + "}\n");
    fs::rename(path + ".tmp", path);
}

// Lines of JSON {"method", "path", "headers"} whose texts hold no quotes.
std::vector<ReceivedRequest> TestServer::requests() const {
    std::vector<ReceivedRequest> requests;
    std::istringstream log(readWholeFile(dir_.path() + "/requests.log"));
    for (std::string line; std::getline(log, line);) {
        std::vector<std::string> s;
        std::istringstream pieces(line);
        for (std::string piece; std::getline(pieces, piece, '"');) s.push_back(piece);
        if (s.size() < 10 || s[1] != "method" || s[5] != "path" || s[9] != "headers")
            throw std::runtime_error("unexpected request log line: " + line);
        requests.push_back({s[3], s[7], {}});
        for (std::size_t i = 11; i + 2 < s.size(); i += 4)
            requests.back().headers.emplace_back(s[i], s[i + 2]);
    }
    return requests;
}
