// A real HTTPS update server on 127.0.0.1 for the tests, for the object's life
// (tools/update_server/update_server.py): files to serve live in rootDir(),
// misbehaviours are rules per URL path, and every request is logged.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

// Which certificate the server presents.
enum class ServerCert {
    Good,       // localhost and 127.0.0.1, from the CA in caBundlePath()
    ForeignCa,  // localhost, from the CA in foreignCaPath()
    WrongHost,  // from the CA in caBundlePath(), but for wrong.example only
};

struct ReceivedRequest {
    std::string method;
    std::string path;                                          // as sent, query included
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
};

class TestServer {
public:
    // Listens on `port` of 127.0.0.1 (0: a free one) once constructed; throws
    // std::runtime_error with the server's output when it does not.
    explicit TestServer(ServerCert cert = ServerCert::Good, int port = 0);
    ~TestServer() { stop(); }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    // "https://localhost:PORT" + path; a '/' is put in front of a path without one.
    std::string url(const std::string& path) const;
    static std::string caBundlePath();   // the updater's bundle: the Good server's CA
    static std::string foreignCaPath();  // a CA that signed no Good certificate
    std::string rootDir() const { return rootDir_; }

    // Writes the file served at `urlPath`; gives its path on disk.
    std::string putFile(const std::string& urlPath, const std::string& content) const;
    // Makes `urlPath` misbehave from the next request on: `ruleJson` is one
    // JSON object, e.g. R"({"status": 404})" (tools/update_server/README.md).
    void setRule(const std::string& urlPath, const std::string& ruleJson) {
        rules_[urlPath] = ruleJson;
        writeRules();
    }
    void clearRule(const std::string& urlPath) {
        rules_.erase(urlPath);
        writeRules();
    }

    // Every request so far, oldest first (texts without quotes). Throws
    // std::runtime_error on a line the server has not finished writing.
    std::vector<ReceivedRequest> requests() const;

private:
    void stop();
    void writeRules() const;

    TempDir dir_;
    std::string rootDir_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::map<std::string, std::string> rules_;
};
