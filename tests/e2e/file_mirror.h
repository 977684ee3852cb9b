// A mirror that serves files over FTP or SFTP for the end-to-end scenarios:
// a real server from Debian's packages on 127.0.0.1, run as a child process
// for the life of the object. FTP is pyftpdlib, anonymous and read-only
// (tools/update_server/ftp_server.py); SFTP is OpenSSH's sshd with a host key
// of its own (tools/update_server/sftp_server.sh), which lets the user running
// the tests in with a key it leaves where libcurl looks for one.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/temp_dir.h"

class FileMirror {
public:
    enum class Protocol { Ftp, Sftp };

    // Starts the server and waits until it listens. For SFTP, `clientHome`
    // is the HOME of the updater that will log in: its .ssh/id_rsa gets the
    // key the server accepts. Throws std::runtime_error with the server's
    // output when it does not come up.
    FileMirror(Protocol protocol, const std::string& clientHome);
    // Stops the server and removes its files.
    ~FileMirror();
    FileMirror(const FileMirror&) = delete;
    FileMirror& operator=(const FileMirror&) = delete;

    // "ftp://localhost:PORT", or "sftp://USER@localhost:PORT/ROOT" with the
    // absolute path of rootDir(); a served path is appended to it.
    std::string baseUrl() const { return baseUrl_; }
    // The directory whose files are served, by URL path.
    std::string rootDir() const { return rootDir_; }
    void putFile(const std::string& urlPath, const std::string& content) const;

private:
    void waitUntilListening(Protocol protocol, int port);
    void stop();

    TempDir dir_;
    std::string rootDir_;
    std::string baseUrl_;
    pid_t pid_ = -1;
};
