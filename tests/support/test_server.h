// A real HTTPS update server on 127.0.0.1 for the tests: files to serve live
// in rootDir(), misbehaviours are rules per URL path, and every request is
// logged so a test can check what the updater sent. It runs
// tools/update_server/update_server.py as a child process for the life of
// the object.
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
    ForeignCa,  // localhost, from a CA that caBundlePath() does not hold
    WrongHost,  // from the CA in caBundlePath(), but for wrong.example only
};

// One request as the server received it.
struct ReceivedRequest {
    std::string method;
    std::string path;                                          // as sent, query included
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received

    // Header names compare without letter case, as HTTP has it.
    bool hasHeader(const std::string& name) const;
    // The first header of that name; empty when there is none.
    std::string header(const std::string& name) const;
};

class TestServer {
public:
    // Starts the server and waits until it listens, on `port` of 127.0.0.1 or,
    // with 0, on a free port. Throws std::runtime_error with the server's own
    // output when it does not come up (also when `port` is taken).
    explicit TestServer(ServerCert cert = ServerCert::Good, int port = 0);
    // Stops the server (SIGTERM, then SIGKILL) and removes its directory.
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    // "https://localhost:PORT" + path; a '/' is put in front of a path without one.
    std::string url(const std::string& path) const;
    // The PEM file of the CA that signed the Good and WrongHost certificates:
    // what a test copies to be the updater's CA bundle.
    static std::string caBundlePath();
    // The directory whose files are served, by URL path.
    std::string rootDir() const { return rootDir_; }

    // Writes `content` byte for byte to the file served at `urlPath`, making
    // its directories. Returns the file's path on disk.
    std::string putFile(const std::string& urlPath, const std::string& content) const;
    // Makes `urlPath` misbehave from the next request on. `ruleJson` is one
    // JSON object, e.g. R"({"status": 404})", R"({"truncate": 100})",
    // R"({"redirect": "https://..."})", R"({"stall": true})",
    // R"({"endless": true})", R"({"delay_ms": 200})", R"({"chunked": true})",
    // R"({"rate": 100})", R"({"file": "/other"})", R"({"choose": [{}, ...]})"
    // (tools/update_server/README.md).
    void setRule(const std::string& urlPath, const std::string& ruleJson);
    void clearRule(const std::string& urlPath);

    // Every request received so far, oldest first.
    std::vector<ReceivedRequest> requests() const;
    std::string requestLogPath() const;

private:
    void start(ServerCert cert, int port);
    void waitUntilListening();
    void stop();
    void writeRules() const;
    std::string serverOutput() const;

    TempDir dir_;
    std::string rootDir_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::map<std::string, std::string> rules_;
};
