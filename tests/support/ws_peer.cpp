#include "ws_peer.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
// Up to `want` bytes, or to `stop`, within `ms`; less when the peer closes.
std::string Read(int fd, size_t want, int ms, const char *stop = nullptr) {
    std::string out;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    char c;
    while (out.size() < want && (!stop || out.find(stop) == std::string::npos)) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, ms > 0 ? 20 : 0);
        if (r > 0 && recv(fd, &c, 1, 0) != 1) break;
        if (r > 0) out += c;
        if (r <= 0 && Clock::now() >= end) break;
    }
    return out;
}
} // namespace

WsPeer::WsPeer(int port, const char *from) {
    sockaddr_in a{AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}},
        src{AF_INET, 0, {}, {}};
    for (int i = 0; i < 200 && fd < 0; ++i) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (from != nullptr && inet_pton(AF_INET, from, &src.sin_addr) == 1)
            bind(fd, reinterpret_cast<sockaddr *>(&src), sizeof src);
        if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) break;
        close(fd), fd = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

WsPeer::~WsPeer() {
    if (fd >= 0) close(fd);
}

std::string WsPeer::Open(const std::string &phrase, bool standard, const std::string &origin) {
    std::string req = standard
                          ? "GET / HTTP/1.1\r\nsec-websocket-version: 13\r\nOrigin: " + origin +
                                "\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nHost: h\r\n"
                                "Connection: Upgrade\r\nUpgrade: websocket\r\n\r\n"
                          : "GET /chat HTTP/1.1\r\nHost: h:1\r\nUpgrade: websocket\r\n"
                            "Connection: keep-alive, Upgrade\r\nSec-WebSocket-Key: "
                            "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n\r\n";
    send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string reply = Read(fd, 4096, 5000, "\r\n\r\n");
    Send(0x81, phrase, standard);
    return reply;
}

void WsPeer::Send(uint8_t kind, const std::string &payload, bool masked) {
    const char key[5] = {0x5A, 0x13, 0x7F, 0x21, 0};
    size_t n = payload.size();
    std::string f{char(kind), char((n < 126 ? n : 126) | (masked ? 0x80 : 0))};
    if (n >= 126) f += std::string{char(n >> 8), char(n & 0xFF)};
    if (masked || (kind == 0x81 && n < 126)) f.append(masked ? key : "\0\0\0\0", 4);
    for (size_t i = 0; i < n; ++i)
        f += char(payload[i] ^ (masked ? key[i % 4] : 0));
    send(fd, f.data(), f.size(), MSG_NOSIGNAL);
}

bool WsPeer::WaitFor(uint8_t kind, std::string *payload, int ms) {
    for (auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
        std::string h = Read(fd, 2, ms),
                    l = h.size() == 2 && uint8_t(h[1]) == 126 ? Read(fd, 2, ms) : "";
        if (h.size() < 2) return false;
        *payload =
            Read(fd, l.size() == 2 ? uint8_t(l[0]) << 8 | uint8_t(l[1]) : uint8_t(h[1]) & 0x7F, ms);
        if (uint8_t(h[0]) == kind) return true;
    }
    return false;
}

bool WsPeer::Closed(int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    do {
        pollfd p{fd, POLLIN, 0};
        char buf[4096];
        if (poll(&p, 1, ms > 0 ? 20 : 0) > 0 && recv(fd, buf, sizeof buf, MSG_DONTWAIT) <= 0)
            return true;
    } while (Clock::now() < end);
    return false;
}
