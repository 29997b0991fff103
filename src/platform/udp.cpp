#include "platform/udp.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

int UdpListen(const char *bind, int port, std::string *why) {
    if (port < 1 || port > 65535) {
        *why = "port out of range";
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo *res = nullptr;
    const std::string service = std::to_string(port);
    int gai = getaddrinfo(bind, service.c_str(), &hints, &res);
    if (gai != 0 || res == nullptr) {
        *why = std::string("address: ") + gai_strerror(gai);
        return -1;
    }
    int fd = socket(res->ai_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    int r = fd < 0 ? -1 : 0;
    if (r == 0) r = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (r == 0) r = setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (r == 0) r = ::bind(fd, res->ai_addr, res->ai_addrlen);
    const int err = errno;
    freeaddrinfo(res);
    if (r != 0) {
        *why = std::strerror(err);
        UdpClose(fd);
        return -1;
    }
    return fd;
}

long UdpReceive(int fd, void *buf, size_t cap) {
    // MSG_TRUNC: the datagram's real length, even when it did not fit.
    ssize_t got = recv(fd, buf, cap, MSG_TRUNC);
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    return got;
}

void UdpClose(int fd) {
    if (fd >= 0) close(fd);
}
