// A TCP socket on 127.0.0.1 for the test servers: closed with the object.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class LoopbackSocket {
public:
    LoopbackSocket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~LoopbackSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

sockaddr_in loopbackAddress(int port);

// Binds `socket` to `port` on loopback (0: any free one) and gives the port.
// With `listen`, the system completes connections to it, which no one ever
// accepts. Throws std::runtime_error saying `purpose` when it cannot.
int bindLoopback(const LoopbackSocket& socket, int port, bool listen, const char* purpose);
