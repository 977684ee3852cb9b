// The one object of the program: every path, setting and result of a run,
// the log, the current transfer and the server list. Built by main, passed by
// reference to every operation, destroyed at the end of the run.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "log/log_file.h"
#include "log/log_level.h"
#include "transfer/transfer_options.h"

class ServerList;

class UpdaterContext {
public:
    UpdaterContext();
    ~UpdaterContext();
    UpdaterContext(const UpdaterContext&) = delete;
    UpdaterContext& operator=(const UpdaterContext&) = delete;

    // ---- Construction steps ----
    void initialize();
    void chooseKeyForm();
    void locateInstallation();

    // ---- Log ----
    void openLog();
    // Writes prefix + message + (".\n" or "\n"); nothing while the log is
    // closed or for an empty message. Default takes the level held in `state`.
    void log(const std::string& message, int level, bool fullStop);

    // ---- Update run ----
    void runUpdate();
    bool fetchManifest(const std::string& url, bool readCodebase);
    bool evaluateManifest();
    // With a release key built in: true when the signature beside the manifest
    // just fetched from `url` holds; otherwise false, `manifestRefusal` set.
    bool manifestSignatureAccepted(const std::string& url);
    std::string readManifestValue(const std::string& elementName);
    std::string readInstalledVersion();
    bool validatePackage();
    void installPackage();
    // Before anything else in a run: puts an installation that an earlier run
    // left in the middle of its copy back in one piece, the old release or the
    // new one. False when it could not (already logged): the run ends.
    bool recoverInterruptedInstall();
    void cleanTemporaryFiles(bool verbose);

    // ---- Transfers ----
    // True when `curl` holds a configured handle and `downloadFile` an open,
    // empty file that may grow to `byteLimit`; false when no transfer can be
    // made (already logged).
    bool openTransfer(const std::string& url, const std::string& filePath,
                      unsigned long long byteLimit);
    // The common steps after openTransfer: true on CURLE_OK. On failure the
    // handle is released, the file closed and libcurl's text logged.
    bool runTransfer(const std::string& url);
    bool downloadPackage(const std::string& url);

    // ---- Scheduled task ----
    void registerScheduledTask(bool administrative);
    void deregisterScheduledTask();

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
    CURL* curl = nullptr;
    FILE* downloadFile = nullptr;
    BoundedFile downloadTarget;  // `downloadFile` with its size cap
    std::unique_ptr<ServerList> serverList;
    bool updateFound = false;
    bool logOpen = false;
    const char* clientKeyPath =
        "SOFTWARE\\Wow6432Node\\Halvorne\\Update\\Clients\\{5C2F7E91-3A4B-4D8E-9F10-2B6C8D4E7A35}";
    const char* updateKeyPath = "SOFTWARE\\Wow6432Node\\Halvorne\\Update";
    const char* dataKeyPath = "SOFTWARE\\Wow6432Node\\Halvorne\\Data";
    char curlErrorBuffer[260] = {};

    // The release key, 64 hexadecimal digits, set by main from the build;
    // empty: manifests are taken on TLS alone.
    std::string releasePublicKey;
    // Why a manifest of this run was refused; the run ends as on a corrupt one.
    std::string manifestRefusal;

    // Tests shorten them so that a stalled server does not hold them long.
    TransferTimeouts transferTimeouts;
};
