// The one object of the program: every path, setting and result of a run,
// its state, the log and the server list. Built by main, passed by reference
// to every operation, destroyed at the end of the run.
//
// Building it opens the log, runs installation discovery and loads the
// server list; ending it cleans the run's temporary files and closes the
// log. Those steps lie above this folder, so the constructor and the
// destructor are defined with them, in app/context_lifetime.cpp.
#pragma once

#include <memory>
#include <string>

#include "core/transfer_timeouts.h"
#include "log/log_file.h"
#include "log/log_level.h"

class ServerList;

class UpdaterContext {
public:
    UpdaterContext();
    ~UpdaterContext();
    UpdaterContext(const UpdaterContext&) = delete;
    UpdaterContext& operator=(const UpdaterContext&) = delete;

    // Opens PelorinAutoUpdate.log in the temporary directory, emptied, and
    // writes its header; `logOpen` tells whether it opened.
    void openLog();
    // Writes prefix + message + (".\n" or "\n"); nothing while the log is
    // closed or for an empty message. Default takes the level held in `state`.
    void log(const std::string& message, int level, bool fullStop);

    // ---- Fields, in declaration order ----
    std::string rootDir;
    std::string dataDir;
    std::string installDir;
    std::string updateDir;
    std::string applicationDir;
    std::string logFilePath;
    std::string packageUrl;
    std::string serverListUrl;
    std::string serverListHash;
    std::string newVersion;
    std::string updaterExePath;
    std::string launcherScriptPath;
    std::string caBundlePath;
    float serverListVersion = 0.0f;
    float installedVersion = 0.0f;
    int state = LogLevel::Info;
    std::unique_ptr<LogFile> logStream;
    std::unique_ptr<ServerList> serverList;
    bool updateFound = false;
    bool logOpen = false;
    const char* clientKeyPath =
        "SOFTWARE\\Wow6432Node\\Halvorne\\Update\\Clients\\{5C2F7E91-3A4B-4D8E-9F10-2B6C8D4E7A35}";
    const char* updateKeyPath = "SOFTWARE\\Wow6432Node\\Halvorne\\Update";
    const char* dataKeyPath = "SOFTWARE\\Wow6432Node\\Halvorne\\Data";

    // The release key, 64 hexadecimal digits, set by main from the build;
    // empty: manifests are taken on TLS alone.
    std::string releasePublicKey;
    // Why a manifest of this run was refused; the run ends as on a corrupt one.
    std::string manifestRefusal;
    // With the release key, the bytes of the manifest accepted last: every
    // field of it is read from them, never from the file again.
    std::string verifiedManifest;

    // Tests shorten them so that a stalled server does not hold them long.
    TransferTimeouts transferTimeouts;
};
