// A TCP socket on 127.0.0.1 for the test servers: closed with the object.
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

struct LoopbackSocket {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    LoopbackSocket() = default;
    LoopbackSocket(const LoopbackSocket&) = delete;
    ~LoopbackSocket() { ::close(fd); }  // -1 when none was made: no harm
};

// Binds `socket` to `port` (0: any free one) and gives the port. With `listen`,
// the system completes connections no one ever accepts. Throws saying `purpose`.
inline int bindLoopback(const LoopbackSocket& socket, int port, bool listen, const char* purpose) {
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (socket.fd < 0 || ::bind(socket.fd, reinterpret_cast<sockaddr*>(&address), length) ||
        (listen && ::listen(socket.fd, 16)) ||
        ::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&address), &length))
        throw std::runtime_error(std::string("no loopback port for ") + purpose);
    return ntohs(address.sin_port);
}
