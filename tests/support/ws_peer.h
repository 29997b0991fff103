// A raw WebSocket peer for the remote-link tests: a standard client's request
// (or this system's own), a masked phrase, frames either way.
#pragma once
#include <cstdint>
#include <string>

// How often `what` occurs in `text`.
inline int Count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

struct WsPeer {
    int fd = -1;
    // 127.0.0.1:port, tried for 4 s; from the loopback address `from` when given.
    explicit WsPeer(int port, const char *from = nullptr);
    WsPeer(int socket, bool) : fd(socket) {}
    ~WsPeer();
    // The request (standard or this system's own) and the phrase; the reply's head.
    std::string Open(const std::string &phrase, bool standard = true,
                     const std::string &origin = "http://h");
    void Send(uint8_t kind, const std::string &payload, bool masked = true);
    // The next frame of `kind` within `ms` (others are skipped).
    bool WaitFor(uint8_t kind, std::string *payload, int ms);
    // True when the server has closed within `ms` (what came before is dropped).
    bool Closed(int ms);
};
