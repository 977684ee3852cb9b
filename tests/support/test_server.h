// A real HTTPS update server on 127.0.0.1 (tools/update_server/update_server.py)
// for the object's life: files in rootDir(), misbehaviours as rules per URL path
// (tools/update_server/README.md), every request logged.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

enum class ServerCert {
    Good,       // localhost and 127.0.0.1, from the CA in caBundlePath()
    ForeignCa,  // localhost, from the CA in foreignCaPath()
    WrongHost,  // from the CA in caBundlePath(), but for wrong.example only
};

struct ReceivedRequest {
    std::string method, path;                                  // path as sent, query included
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
};

class TestServer {
public:
    // Listens on `port` (0: a free one) once constructed, or throws with the server's output.
    explicit TestServer(ServerCert cert = ServerCert::Good, int port = 0);
    ~TestServer() { stop(); }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;  // "https://localhost:PORT" + '/'? + path
    // The updater's bundle (the Good server's CA), and a CA that signed no Good certificate.
    static std::string caBundlePath() { return certificateDir() + "/ca.pem"; }
    static std::string foreignCaPath() { return certificateDir() + "/foreign-ca.pem"; }
    std::string rootDir() const { return rootDir_; }

    // Writes the file served at `urlPath`; gives its path on disk.
    std::string putFile(const std::string& urlPath, const std::string& content) const;
    // From the next request on, e.g. setRule("/a.msi", R"({"status": 404})").
    void setRule(const std::string& urlPath, const std::string& ruleJson) {
        rules_[urlPath] = ruleJson;
        writeRules();
    }
    void clearRule(const std::string& urlPath) {
        rules_.erase(urlPath);
        writeRules();
    }
    // Every request so far, oldest first; throws on a line not yet fully written.
    std::vector<ReceivedRequest> requests() const;

private:
    static const std::string& certificateDir();  // made once, and again if a test removed it
    void stop();
    void writeRules() const;

    TempDir dir_;
    std::string rootDir_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::map<std::string, std::string> rules_;
};
