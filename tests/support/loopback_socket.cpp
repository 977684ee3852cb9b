#include "support/loopback_socket.h"

#include <arpa/inet.h>

#include <cstdint>
#include <stdexcept>
#include <string>

sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

int bindLoopback(const LoopbackSocket& socket, int port, bool listen, const char* purpose) {
    sockaddr_in address = loopbackAddress(port);
    socklen_t length = sizeof address;
    if (socket.get() < 0 ||
        ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (listen && ::listen(socket.get(), 16) != 0) ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error(std::string("no loopback port for ") + purpose);
    }
    return ntohs(address.sin_port);
}
