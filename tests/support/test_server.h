// A real HTTPS update server on 127.0.0.1 (tools/update_server) for the object's life: files in
// rootDir(), misbehaviours as rules per URL path (tools/update_server/README.md), requests logged.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

// Good: localhost and 127.0.0.1 from caBundlePath()'s CA; ForeignCa: from foreignCaPath()'s;
// WrongHost: from caBundlePath()'s CA, for wrong.example only.
enum class ServerCert { Good, ForeignCa, WrongHost };

struct ReceivedRequest {
    std::string method, path;                                  // path as sent, query included
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
};

class TestServer {
public:
    // Listens on `port` (0: a free one) once constructed, or throws with the server's output.
    explicit TestServer(ServerCert cert = ServerCert::Good, int port = 0);
    ~TestServer() { stop(); }
    int port() const { return port_; }
    std::string url(const std::string& path) const;  // "https://localhost:PORT" + '/'? + path
    static std::string caBundlePath() { return certificateDir() + "/ca.pem"; }
    static std::string foreignCaPath() { return certificateDir() + "/foreign-ca.pem"; }
    std::string rootDir() const { return dir_.path() + "/root"; }
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
    std::vector<ReceivedRequest> requests() const;  // oldest first; throws on a half-written line
    // A line per answer, "PATH STATUS RANGE-ASKED-OR-- BODY-BYTES-SENT", as each ended.
    std::string sentLog() const;

private:
    static const std::string& certificateDir();  // made once, and again if a test removed it
    void stop();
    void writeRules() const;

    TempDir dir_;  // no copies: each object stops its own server
    pid_t pid_ = -1;
    int port_ = 0;
    std::map<std::string, std::string> rules_;
};
