// A TCP socket on 127.0.0.1 for the test servers: closed with the object.
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

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

// Binds `socket` to `port` (0: any free one) and gives the port. With `listen`,
// the system completes connections no one ever accepts. Throws saying `purpose`.
inline int bindLoopback(const LoopbackSocket& socket, int port, bool listen, const char* purpose) {
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (socket.get() < 0 || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), length) ||
        (listen && ::listen(socket.get(), 16)) ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length))
        throw std::runtime_error(std::string("no loopback port for ") + purpose);
    return ntohs(address.sin_port);
}
