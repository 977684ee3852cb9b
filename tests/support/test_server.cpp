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

#include "support/child_process.h"
#include "support/installation.h"

namespace fs = std::filesystem;

const std::string toolDir = PELORIN_SOURCE_DIR "/tools/update_server/";
static void writeWholeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << content).flush()) throw std::runtime_error("cannot write " + path);
}

const std::string& TestServer::certificateDir() {
    static TempDir dir;
    const std::string& d = dir.path();
    const std::string make = "mkdir -p '" + d + "' && sh '" + toolDir + "make_certs.sh' '" + d +
                             "' >'" + d + "/make_certs.out' 2>&1";
    if (!fs::exists(d + "/wronghost-server.pem") && std::system(make.c_str()) != 0)
        throw std::runtime_error("make_certs.sh failed:\n" + readFile(d + "/make_certs.out"));
    return d;
}

TestServer::TestServer(ServerCert cert, int port) {
    fs::create_directories(rootDir());
    const char* const names[] = {"/server", "/foreign-server", "/wronghost-server"};
    const std::string base = certificateDir() + names[static_cast<int>(cert)], d = dir_.path();
    // Debian's own interpreter starts far sooner than a version manager's shim.
    const std::string command =
        "exec " + std::string(fs::exists("/usr/bin/python3") ? "/usr/bin/" : "") + "python3 '" +
        toolDir + "update_server.py' --port " + std::to_string(port) + " --port-file '" + d +
        "/port' --root '" + rootDir() + "' --cert '" + base + ".pem' --key '" + base +
        ".key' --rules '" + d + "/rules.json' --request-log '" + d + "/requests.log' --sent-log '" +
        d + "/sent.log' --parent-pid " + std::to_string(::getpid()) + " >'" + d +
        "/server.out' 2>&1 </dev/null";
    pid_ = spawn({"/bin/sh", "-c", command});
    for (int wait = 0; !fs::exists(d + "/port"); ++wait) {  // 20 ms each, 30 s at most
        if (pid_ < 0 || ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
        if (pid_ < 0 || wait >= 1500) {
            stop();
            throw std::runtime_error("the test server failed:\n" + readFile(d + "/server.out"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    port_ = std::stoi(readFile(d + "/port"));
}

void TestServer::stop() {  // the server keeps nothing worth a clean exit
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string TestServer::url(const std::string& path) const {
    return "https://localhost:" + std::to_string(port_) + (path.rfind('/', 0) ? "/" : "") + path;
}

std::string TestServer::putFile(const std::string& urlPath, const std::string& content) const {
    const fs::path file = fs::path(rootDir()) / fs::path(urlPath).relative_path();
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
    std::istringstream log(readFile(dir_.path() + "/requests.log"));
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

std::string TestServer::sentLog() const {
    return readFile(dir_.path() + "/sent.log");
}
