#include "remote/access.h"

#include "model/works.h"
#include "platform/log.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>

const char *WsPhrase(Works *w) {
    return w->options.accessPhrase[0] != '\0' ? w->options.accessPhrase : w->accessPhrase;
}

bool WsDefaultPhraseExposed(char webSocketSwitch, const char *phrase, const char *bind) {
    uint32_t addr = 0;
    bool loopback = WsBindAddress(bind, &addr) && addr != INADDR_ANY && (addr >> 24) == 127;
    return webSocketSwitch == '1' && std::strcmp(phrase, kWsFactoryPhrase) == 0 && !loopback;
}

bool WsDefaultPhraseExposed(Works *w) {
    return WsDefaultPhraseExposed(w->setup->WebSocket.load(), WsPhrase(w), w->options.remoteBind);
}

namespace {

// `n` bytes of `a` equal to the text `b`, letter case aside.
bool SameText(const char *a, size_t n, const char *b) {
    return std::strlen(b) == n && strncasecmp(a, b, n) == 0;
}

} // namespace

bool WsOriginAllowed(const char *origin, const char *host, const char *allowed) {
    size_t n = std::strlen(origin);
    while (n > 0 && origin[n - 1] == '/')
        --n;
    if (n == 0) return false; // an origin too long to keep, or empty
    for (const char *scheme : {"http://", "https://"}) {
        size_t k = std::strlen(scheme);
        if (n > k && strncasecmp(origin, scheme, k) == 0 && host[0] != '\0' &&
            SameText(origin + k, n - k, host))
            return true;
    }
    for (const char *p = allowed; *p != '\0';) {
        p += std::strspn(p, ", \t");
        size_t len = std::strcspn(p, ", \t");
        while (len > 0 && p[len - 1] == '/')
            --len;
        if (len > 0 && len == n && strncasecmp(p, origin, n) == 0) return true;
        p += std::strcspn(p, ", \t");
    }
    return false;
}

namespace {

// One entry "a.b.c.d" or "a.b.c.d/n" into network and mask.
bool ReadEntry(const char *text, uint32_t *net, uint32_t *mask) {
    char addr[32];
    int bits = 32;
    const char *slash = std::strchr(text, '/');
    size_t n = slash != nullptr ? size_t(slash - text) : std::strlen(text);
    if (n == 0 || n >= sizeof addr) return false;
    std::memcpy(addr, text, n);
    addr[n] = '\0';
    if (slash != nullptr) {
        char *end = nullptr;
        long b = std::strtol(slash + 1, &end, 10);
        if (end == slash + 1 || *end != '\0' || b < 0 || b > 32) return false;
        bits = int(b);
    }
    in_addr a{};
    if (inet_pton(AF_INET, addr, &a) != 1) return false;
    *mask = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
    *net = ntohl(a.s_addr) & *mask;
    return true;
}

} // namespace

WsAllowList WsReadAllowList(const char *text) {
    WsAllowList list;
    char entry[64];
    const char *p = text;
    for (;;) {
        while (*p == ',' || *p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0') break;
        list.all = false;
        size_t n = std::strcspn(p, ", \t");
        std::snprintf(entry, sizeof entry, "%.*s", int(n), p);
        p += n;
        if (list.count == kWsAllowMax) {
            LogErr("RemoteAllow: more than %d entries, %s left out", kWsAllowMax, entry);
        } else if (ReadEntry(entry, &list.net[list.count], &list.mask[list.count])) {
            ++list.count;
        } else {
            LogErr("RemoteAllow: %s is not an address or network, left out", entry);
        }
    }
    if (!list.all && list.count == 0) LogErr("RemoteAllow: no entry reads, no peer is allowed");
    return list;
}

bool WsAllowed(const WsAllowList &list, uint32_t addr) {
    if (list.all) return true;
    for (int i = 0; i < list.count; ++i)
        if ((addr & list.mask[i]) == list.net[i]) return true;
    return false;
}

bool WsBindAddress(const char *text, uint32_t *addr) {
    if (text[0] == '\0') {
        *addr = INADDR_ANY;
        return true;
    }
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1) return false;
    *addr = ntohl(a.s_addr);
    return true;
}

void WsKeepAlive(int fd) {
    int on = 1, idle = 10, interval = 5, count = 3;
    unsigned timeout = 20000;
    // Errors are of no account: a socket that is not TCP (a test's socket
    // pair) simply has no keepalive.
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout);
}
