#include "remote/wsocket.h"

#include "model/works.h"
#include "display/fb.h"
#include "remote/screen_image.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/random.h"
#include "platform/serial.h"
#include "remote/access.h"
#include "remote/audio.h"
#include "remote/commands.h"
#include "remote/frames.h"
#include "remote/guard.h"
#include "remote/page.h"
#include "model/hooks.h"
#include "model/remote_link.h"
#include "model/tav_params.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

std::atomic<int> wsServerStartWaitMs{2000};
std::atomic<int> wsProveMs{3000};
std::atomic<int> wsTakeoverIdleMs{60000};
std::atomic<int> wsClientSilenceMs{30000};
std::atomic<int> wsPingMs{10000};

namespace {

// The port as a number 0..65535 (the record keeps it in a signed 16-bit field).
int Port(Works *w) {
    return uint16_t(w->tcpPort.load());
}

bool KeepGoing(Works *w, bool server) {
    return w->running != 0 && w->setup->WebSocket.load() == (server ? '1' : '2');
}

// Sleeps `ms` in short steps; false when asked to stop.
bool Pause(Works *w, bool server, int ms) {
    uint64_t start = NowMs();
    while (!expired(start, NowMs(), uint64_t(ms))) {
        if (!KeepGoing(w, server)) return false;
        RemoteCommandsTick(w); // a reboot asked for by the last peer
        SleepMs(ms < 20 ? uint32_t(ms) : 20);
    }
    return KeepGoing(w, server);
}

int WriteText(int fd, const char *text, int length) {
    return WsWriteAll(fd, reinterpret_cast<const uint8_t *>(text), length, kWsSendTimeoutMs);
}

void Eik(const char *tag) {
    LogInfo("EIK, %s", tag);
    Trace("EIK, %s\n", tag);
}

} // namespace

// --- Connections that have not proved themselves yet ------------------------

// A connection between its accept and its access phrase. It is read without
// waiting: several are served side by side, each within its deadline.
struct WsPending {
    int fd = -1;
    uint32_t addr = 0; // the peer's IPv4 address, host order (0: not IPv4)
    char ip[INET_ADDRSTRLEN] = "?";
    uint64_t deadline = 0;
    bool request = true;   // still reading the request (else the phrase)
    bool longLine = false; // dropping the rest of an over-long request line
    bool framed = false;   // a frame has begun
    bool pings = false;    // the phrase came masked: a standard client
    uint32_t skip = 0;     // bytes still to drop of a frame ignored before the phrase
    uint16_t closeCode = 0;   // a close frame owed before the socket closes
    WsGuard *guard = nullptr; // the server's guessing limits (none: not counted)
    WsHandshake h;
    int len = 0;
    uint8_t in[4096];
    ~WsPending() {
        if (fd >= 0) close(fd);
    }
};

// The connections proving themselves, the listening socket they come from,
// and the first of them that proved itself, until it is served.
struct WsLobby {
    Works *works = nullptr;
    int listenFd = -1;
    WsAllowList allow;
    std::unique_ptr<WsPending> pend[kWsPendingMax];
    std::unique_ptr<WsPending> proved;
    int polled[kWsPendingMax + 1]; // slot of each polled descriptor (-1: the listener)
    uint64_t refusedLogMs = 0;     // refused peers are logged at most once a minute
    int refusedQuiet = 0;
    uint64_t originLogMs = 0; // so are foreign origins
    int originQuiet = 0;
    WsGuard guard;
};

namespace {

// The access phrase in a text frame: kWsGoOn when it is not a text frame,
// 1 when it is the phrase, kWsWrongPhrase when it is another text, kWsRefused
// when its address has to wait. Neither the phrase nor the text tried is
// ever logged.
int PhraseFrame(Works *w, WsPending *p, const uint8_t *f, const WsHead &h) {
    if (h.b0 != kWsText || (h.extended && !h.masked)) return kWsGoOn;
    uint64_t now = NowMs();
    if (GuardWait(p->guard, p->addr, now, true) > 0) return kWsRefused;
    const char *phrase = WsPhrase(w);
    uint8_t text[kOptionText] = {};
    int n = h.length < int(sizeof text) ? h.length : int(sizeof text) - 1;
    WsHead cut = h;
    cut.length = n;
    WsUnmask(f, cut, text);
    // Every byte is compared whatever differs, so the time taken tells nothing.
    size_t want = std::strlen(phrase);
    uint8_t diff = h.length != int(want) ? 1 : 0;
    for (size_t i = 0; i < want; ++i)
        diff = uint8_t(diff | (uint8_t(phrase[i]) ^ text[i]));
    if (diff != 0) {
        if (h.length == n && !WsValidUtf8(text, n)) p->closeCode = 1007;
        GuardFail(p->guard, p->addr, now);
        return kWsWrongPhrase;
    }
    GuardPass(p->guard, p->addr);
    LogInfo("%s proved the access phrase", p->ip);
    return 1;
}

// A handshake from a browser page of another origin: 403 and closed.
bool ForeignOrigin(Works *w, WsPending *p) {
    if (!p->h.origin || WsOriginAllowed(p->h.originText, p->h.host, w->options.remoteOrigins))
        return false;
    static const char kForbidden[] = "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\n"
                                     "Connection: close\r\nContent-Length: 10\r\n\r\nforbidden\n";
    WriteText(p->fd, kForbidden, int(sizeof kForbidden - 1));
    shutdown(p->fd, SHUT_WR);
    return true;
}

// A frame before the phrase: the phrase itself, ping, close; everything else
// is ignored.
int PendingFrame(Works *w, WsPending *p, const uint8_t *f, const WsHead &h) {
    if (h.b0 == kWsPing || h.b0 == kWsClose) {
        uint8_t payload[125];
        WsUnmask(f, h, payload);
        int n = h.b0 == kWsPing ? h.length : (h.length >= 2 ? 2 : 0);
        WsWriteControl(p->fd, h.b0 == kWsPing ? kWsPong : kWsClose, payload, n);
        return h.b0 == kWsPing ? kWsGoOn : kWsPeerClose;
    }
    int r = PhraseFrame(w, p, f, h);
    if (r == 1) p->pings = h.masked;
    return r;
}

// A complete request without an upgrade: the page for "/", nothing else.
void AnswerPlainRequest(Works *w, WsPending *p) {
    std::string reply;
    if (std::strcmp(p->h.path, "/") == 0 || std::strcmp(p->h.path, "/index.html") == 0) {
        std::string page = WsPage(w);
        reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                std::to_string(page.size()) + "\r\n\r\n" + page;
        LogDebug("page sent to %s", p->ip);
    } else {
        reply = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                "Content-Length: 10\r\n\r\nnot found\n";
    }
    WriteText(p->fd, reply.data(), int(reply.size()));
    shutdown(p->fd, SHUT_WR);
}

// Acts on what has arrived: request lines, then frames up to the phrase.
// Returns kWsGoOn to wait for more, 1 when the peer proved itself (the bytes
// after its phrase stay in `in`), or the reason to close it.
int PendingParse(Works *w, WsPending *p) {
    int used = 0, r = kWsGoOn;
    while (r == kWsGoOn && used < p->len) {
        uint8_t *b = p->in + used;
        int have = p->len - used;
        if (p->request) {
            const uint8_t *nl = static_cast<const uint8_t *>(std::memchr(b, '\n', size_t(have)));
            int n = nl != nullptr ? int(nl - b) + 1 : 0;
            if (n == 0 || n > kWsLineMax) { // an over-long line is dropped whole
                if (n == 0 && have < kWsLineMax) break;
                used += n != 0 ? n : have;
                p->longLine = n == 0;
                continue;
            }
            used += n;
            if (p->longLine) { // the end of an over-long line
                p->longLine = false;
                continue;
            }
            char line[kWsLineMax + 1];
            std::memcpy(line, b, size_t(n));
            line[n] = '\0';
            int hr = WsHandshakeLine(&p->h, line, n);
            if (hr < 0) {
                r = kWsRefused;
            } else if (hr == 2) {
                AnswerPlainRequest(w, p);
                r = kWsClosed;
            } else if (hr == 1 && ForeignOrigin(w, p)) {
                r = kWsForbidden;
            } else if (hr == 1) {
                char reply[256];
                int len = WsUpgradeReply(&p->h, reply, sizeof reply);
                r = WriteText(p->fd, reply, len) == 0 ? kWsGoOn : kWsClosed;
                LogDebug("Sec-WebSocket-Accept sent to %s", p->ip);
                p->request = false;
            }
            continue;
        }
        if (p->skip > 0) {
            uint32_t take = uint32_t(have) < p->skip ? uint32_t(have) : p->skip;
            used += int(take);
            p->skip -= take;
            continue;
        }
        // This system's client ends its request with a second empty line.
        if (!p->framed && (b[0] == '\r' || b[0] == '\n')) {
            ++used;
            continue;
        }
        WsHead h;
        int total = WsParseHead(b, have, &h);
        if (total < 0) {
            p->closeCode = WsRefusedCode(b);
            r = kWsBadFrame;
            break;
        }
        if (total == 0) break;
        p->framed = true;
        if (total > have) {
            bool small = h.b0 == kWsText || h.b0 == kWsPing || h.b0 == kWsClose;
            if (!small) { // not the phrase: dropped as it comes
                p->skip = uint32_t(total - have);
                used += have;
                continue;
            }
            if (total > int(sizeof p->in)) { // far longer than any phrase
                p->closeCode = 1009;
                r = kWsBadFrame;
            }
            break;
        }
        used += total;
        r = PendingFrame(w, p, b, h);
    }
    std::memmove(p->in, p->in + used, size_t(p->len - used));
    p->len -= used;
    return r;
}

// Reads what has arrived (when `readable`) and acts on it; kWsGoOn, 1 proved,
// or the reason to close.
int PendingStep(Works *w, WsPending *p, bool readable) {
    bool end = false;
    if (readable && p->len < int(sizeof p->in)) {
        ssize_t n = recv(p->fd, p->in + p->len, sizeof p->in - size_t(p->len), MSG_DONTWAIT);
        if (n > 0) p->len += int(n);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) end = true;
    }
    int r = PendingParse(w, p);
    if (r != kWsGoOn) return r;
    if (end) return kWsClosed;
    if (NowMs() >= p->deadline) {
        LogDebug("%s: handshake and phrase not complete in %d ms", p->ip, wsProveMs.load());
        return kWsTimedOut;
    }
    return kWsGoOn;
}

std::unique_ptr<WsPending> NewPending(int fd, uint32_t addr, WsGuard *guard) {
    auto p = std::make_unique<WsPending>();
    p->fd = fd;
    p->addr = addr;
    p->guard = guard;
    in_addr a{htonl(addr)};
    inet_ntop(AF_INET, &a, p->ip, sizeof p->ip);
    p->deadline = NowMs() + uint64_t(wsProveMs);
    return p;
}

// --- The lobby: the listening socket and the connections proving themselves -

void LobbyCloseAll(WsLobby *l) {
    for (auto &p : l->pend)
        p.reset();
}

// Room for a new connection from `addr`: a full lobby, or one that holds
// kWsPendingPerPeer from that address already, gives up its oldest there.
int LobbySlot(WsLobby *l, uint32_t addr) {
    int free = -1, same = 0, oldestSame = -1, oldest = -1;
    for (int i = 0; i < kWsPendingMax; ++i) {
        WsPending *p = l->pend[i].get();
        if (p == nullptr) {
            if (free < 0) free = i;
            continue;
        }
        if (oldest < 0 || p->deadline < l->pend[oldest]->deadline) oldest = i;
        if (p->addr != addr) continue;
        ++same;
        if (oldestSame < 0 || p->deadline < l->pend[oldestSame]->deadline) oldestSame = i;
    }
    int evict = same >= kWsPendingPerPeer ? oldestSame : free < 0 ? oldest : -1;
    if (evict < 0) return free;
    LogDebug("%s: closed for a newer connection", l->pend[evict]->ip);
    l->pend[evict].reset();
    return evict;
}

void LobbyAccept(WsLobby *l) {
    for (int round = 0; round < kWsPendingMax; ++round) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = accept4(l->listenFd, reinterpret_cast<sockaddr *>(&peer), &len,
                         SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                LogErr("Accept-ing error %d", errno);
            return;
        }
        uint32_t addr = ntohl(peer.sin_addr.s_addr);
        if (!WsAllowed(l->allow, addr)) {
            close(fd);
            uint64_t now = NowMs();
            if (l->refusedLogMs == 0 || expired(l->refusedLogMs, now, 60000)) {
                char ip[INET_ADDRSTRLEN] = "?";
                inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
                LogErr("peer %s refused: not in RemoteAllow (%d more refused since the last "
                       "notice)",
                       ip, l->refusedQuiet);
                l->refusedLogMs = now;
                l->refusedQuiet = 0;
            } else {
                ++l->refusedQuiet;
            }
            continue;
        }
        if (GuardWait(&l->guard, addr, NowMs(), true) > 0) {
            close(fd); // still waiting after its wrong phrases
            continue;
        }
        WsKeepAlive(fd);
        int slot = LobbySlot(l, addr);
        l->pend[slot] = NewPending(fd, addr, &l->guard);
        LogDebug("Connected by %s", l->pend[slot]->ip);
    }
}

// The descriptors to wait on: the listener, then each connection.
int LobbyFds(WsLobby *l, pollfd *fds) {
    int n = 0;
    if (l->listenFd >= 0) {
        fds[n] = {l->listenFd, POLLIN, 0};
        l->polled[n++] = -1;
    }
    for (int i = 0; i < kWsPendingMax; ++i) {
        if (!l->pend[i]) continue;
        fds[n] = {l->pend[i]->fd, POLLIN, 0};
        l->polled[n++] = i;
    }
    return n;
}

// Acts on the poll's results (`fds` as LobbyFds gave them) and on the
// deadlines. A connection that proved itself moves to `proved` (the first
// one only: a later one in the same round is closed).
void LobbyService(WsLobby *l, const pollfd *fds, int n) {
    bool ready[kWsPendingMax] = {};
    bool accept = false;
    for (int k = 0; k < n; ++k) {
        if (fds[k].revents == 0) continue;
        if (l->polled[k] < 0)
            accept = true;
        else
            ready[l->polled[k]] = true;
    }
    for (int i = 0; i < kWsPendingMax; ++i) {
        if (!l->pend[i]) continue;
        int r = PendingStep(l->works, l->pend[i].get(), ready[i]);
        if (r == kWsGoOn) continue;
        if (r == 1 && !l->proved) {
            l->proved = std::move(l->pend[i]);
            continue;
        }
        WsPending *p = l->pend[i].get();
        if (r == 1) LogInfo("%s proved itself after another; closed", p->ip);
        if (r == kWsForbidden) {
            uint64_t now = NowMs();
            if (l->originLogMs == 0 || expired(l->originLogMs, now, 60000)) {
                LogErr("%s: handshake from a web page of another origin refused (403; %d more "
                       "since the last notice)",
                       p->ip, l->originQuiet);
                l->originLogMs = now;
                l->originQuiet = 0;
            } else {
                ++l->originQuiet;
            }
        }
        if (p->closeCode != 0) {
            const uint8_t code[2] = {uint8_t(p->closeCode >> 8), uint8_t(p->closeCode)};
            WsWriteControl(p->fd, kWsClose, code, 2);
        }
        l->pend[i].reset();
    }
    GuardTick(&l->guard, NowMs());
    if (accept) LobbyAccept(l);
}

// A proved peer that cannot have the session (it is in use): told and closed.
void LobbyTurnAway(WsLobby *l) {
    WsPending *p = l->proved.get();
    LogErr("%s proved itself but the session is in use; closed", p->ip);
    if (p->pings) {
        const uint8_t busy[2] = {0x03, 0xF5}; // 1013: try again later
        WsWriteControl(p->fd, kWsClose, busy, 2);
    }
    l->proved.reset();
}

// --- Reading a session ------------------------------------------------------

// Waits for more input; kWsGoOn when bytes were added. Meanwhile it keeps
// the server's other duties: pings, the owed setup write, the lobby.
int Fill(WsConn *c) {
    if (c->inPos == c->inLen) c->inPos = c->inLen = 0;
    if (c->inPos > 0 && c->inLen == int(sizeof c->in)) {
        std::memmove(c->in, c->in + c->inPos, size_t(c->inLen - c->inPos));
        c->inLen -= c->inPos;
        c->inPos = 0;
    }
    for (;;) {
        if (!KeepGoing(c->works, c->server)) return kWsStopped;
        uint64_t now = NowMs();
        if (c->deadline != 0 && now >= c->deadline) return kWsTimedOut;
        if (c->silenceMs > 0 && expired(c->lastRx, now, uint64_t(c->silenceMs))) {
            LogErr("nothing heard from the server for %d ms", c->silenceMs);
            return kWsSilent;
        }
        if (c->nextPing != 0 && now >= c->nextPing) {
            c->nextPing = now + uint64_t(wsPingMs);
            WsSendControl(c->works, kWsPing, nullptr, 0);
        }
        RemoteCommandsTick(c->works);
        pollfd fds[2 + kWsPendingMax];
        fds[0] = {c->fd, POLLIN, 0};
        int n = 1 + (c->lobby != nullptr ? LobbyFds(c->lobby, fds + 1) : 0);
        int r = poll(fds, nfds_t(n), kWsPollMs);
        if (r < 0 && errno != EINTR) return kWsClosed;
        if (c->lobby != nullptr) {
            LobbyService(c->lobby, fds + 1, r > 0 ? n - 1 : 0);
            if (c->lobby->proved) {
                if (expired(c->lastRx, NowMs(), uint64_t(wsTakeoverIdleMs))) return kWsTakenOver;
                LobbyTurnAway(c->lobby);
            }
        }
        if (r <= 0 || fds[0].revents == 0) continue;
        ssize_t got = recv(c->fd, c->in + c->inLen, sizeof c->in - size_t(c->inLen), MSG_DONTWAIT);
        if (got > 0) {
            c->inLen += int(got);
            c->lastRx = NowMs();
            return kWsGoOn;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        return kWsClosed;
    }
}

int ReadExact(WsConn *c, uint8_t *dst, int n) {
    int got = 0;
    while (got < n) {
        if (c->inPos == c->inLen) {
            int r = Fill(c);
            if (r != kWsGoOn) return r;
        }
        int take = c->inLen - c->inPos;
        if (take > n - got) take = n - got;
        std::memcpy(dst + got, c->in + c->inPos, size_t(take));
        c->inPos += take;
        got += take;
    }
    return kWsGoOn;
}

// One response line of the client's handshake (up to kWsLineMax characters,
// NUL-terminated); returns its length or a WsEnd. A longer line comes out in
// pieces without a line end.
int ReadLine(WsConn *c, char *line) {
    int n = 0;
    while (n < kWsLineMax) {
        if (c->inPos == c->inLen) {
            int r = Fill(c);
            if (r != kWsGoOn) return r;
        }
        char ch = char(c->in[c->inPos++]);
        line[n++] = ch;
        if (ch == '\n') break;
    }
    line[n] = '\0';
    return n;
}

int Handshake(WsConn *c, WsHandshake *h) {
    char line[kWsLineMax + 1];
    for (;;) {
        int n = ReadLine(c, line);
        if (n < 0) return n;
        if (line[n - 1] != '\n') continue; // a piece of an overlong line
        int r = WsHandshakeLine(h, line, n);
        if (r == 1) return kWsGoOn;
        if (r < 0) return kWsRefused;
    }
}

// --- Acting on frames -------------------------------------------------------

// Writes a received body to a serial port: 0 written, 1 no port open, -1 failed.
int ToPort(int fd, const uint8_t *body, int length) {
    if (fd < 0) return 1;
    char buf[200] = {};
    if (length > int(sizeof buf) - 1) length = int(sizeof buf) - 1;
    std::memcpy(buf, body, size_t(length));
    if (SerialWriteAll(fd, buf, size_t(length)) == 0) return 0;
    // A port that hung up is reopened by its link: as if none were open.
    return SerialGone(errno) ? 1 : -1;
}

// A whole screen object arrived in `s->fbBuf`.
void ShowScreen(Works *w, WsSession *s, int total) {
    FbScreen *fb = &w->fb;
    std::lock_guard<std::recursive_mutex> frame(w->frameLock);
    if (uint32_t(total) == fb->memSize) {
        fbInvalidate(fb); // before the copy: a kept band gives its rows back first
        std::memcpy(fb->backMem, s->fbBuf.data(), fb->memSize);
        std::memcpy(fb->workMem, fb->backMem, fb->memSize);
        fbRealize(fb);
        return;
    }
    // Any other size is a JPEG image; one that is not of the screen's size
    // leaves the screen as it was.
    if (Uncompress(w, s->fbBuf.data(), total) == 0) fbRealize(fb);
}

void ScreenChunk(Works *w, WsSession *s, const uint8_t *body, int length) {
    uint32_t cap = w->fb.backMem != nullptr ? w->fb.memSize : 0;
    if (cap != 0 && s->fbBuf.size() != cap) s->fbBuf.assign(cap, 0);
    int t = WsAssembleChunk(&s->fb, s->fbBuf.data(), cap, body, length);
    if (t > 0) ShowScreen(w, s, t);
}

// A received audio packet: its 32-bit length n, checked against the frame,
// then played. Only a client's failed write ends the connection.
int Audio(Works *w, WsSession *s, const uint8_t *body, int length) {
    if (w->setup->EnableWrite.load() != '1' || length < 4) return kWsGoOn;
    uint32_t n = WsGet32(body);
    if (n > uint32_t(length - 4)) return kWsGoOn;
    if (PlayAudioPacket(w, !s->server, body + 4, int(n)) < 0) return kWsClosed;
    return kWsGoOn;
}

int Binary(Works *w, WsSession *s, const uint8_t *payload, int pl, bool extended) {
    char tag[3] = {char(payload[0]), char(payload[1]), 0};
    const uint8_t *body = payload + 2;
    int bl = pl - 2;
    if (!extended) {
        if (std::strcmp(tag, "CA") == 0) {
            Eik(tag);
            if (ToPort(w->catFD, body, bl) < 0 && s->server) {
                LogInfo("TCP read Error 7a %d", errno);
                CallHook(hooks.ExitCAT, w);
                return kWsPortError;
            }
            return kWsGoOn;
        }
        if (std::strcmp(tag, "ST") == 0) {
            Eik(tag);
            RemoteStatus status;
            if (!s->server && ParseStatusText(reinterpret_cast<const char *>(body), bl, &status))
                RemoteStatusStore(w, status);
            std::memset(w->remoteCmd, 0, sizeof w->remoteCmd);
            std::memcpy(w->remoteCmd, body, size_t(bl));
            dispStat(w);
            return kWsGoOn;
        }
        if (std::strcmp(tag, "PA") == 0) {
            Eik(tag);
            if (!s->server) {
                storeParameters(w, bl, body);
                return kWsGoOn;
            }
            char text[kWsShortBody + 1] = {};
            std::memcpy(text, body, size_t(bl));
            Trace("S BUFFER WEB SERVER : %s\n", text);
            if (ToPort(w->serFD, body, bl) < 0) {
                LogInfo("TCP read Error 8a %d", errno);
                return kWsPortError;
            }
            return kWsGoOn;
        }
        if (std::strcmp(tag, "SC") == 0 && s->server) {
            Eik(tag);
            if (ToPort(w->serFD, body, bl) < 0) {
                LogInfo("TCP read Error 7a %d", errno);
                return kWsPortError;
            }
            return kWsGoOn;
        }
    } else {
        if (std::strcmp(tag, "SP") == 0) {
            if (s->server) return kWsGoOn;
            int t = WsAssembleChunk(&s->sp, s->spBuf, kWsSpectrumCap, body, bl);
            if (t > 0) storeFFT(w, t, s->spBuf);
            return kWsGoOn;
        }
        if (std::strcmp(tag, "FB") == 0) {
            Eik(tag);
            ScreenChunk(w, s, body, bl);
            return kWsGoOn;
        }
        if (std::strcmp(tag, "SO") == 0) {
            return Audio(w, s, body, bl);
        }
    }
    LogErr("wrong message type: %x", kWsBinary);
    return kWsGoOn;
}

// A text frame after the phrase: "XY" carries a pointer position, not used.
int Text(const uint8_t *payload, int n) {
    if (n >= 2 && std::memcmp(payload, "XY", 2) == 0) {
        Eik("XY");
        char text[16] = {};
        std::memcpy(text, payload + 2, size_t(n - 2 < 15 ? n - 2 : 15));
        int x = 0, y = 0;
        std::sscanf(text, "%5d%5d", &x, &y);
    }
    return kWsGoOn;
}

} // namespace

int WsReadFrame(WsConn *c, WsSession *s) {
    int r = ReadExact(c, s->frame, 2);
    if (r != kWsGoOn) {
        if (r == kWsClosed) LogInfo("TCP read Error 1a %d", errno);
        return r;
    }
    WsHead h;
    int have = 2, total = WsParseHead(s->frame, have, &h);
    if (total == 0) { // the 16-bit length follows
        r = ReadExact(c, s->frame + 2, 2);
        if (r != kWsGoOn) {
            if (r == kWsClosed) LogInfo("TCP read Error 1a %d", errno);
            return r;
        }
        have = 4;
        total = WsParseHead(s->frame, have, &h);
    }
    if (total < 0) {
        LogInfo("frame refused: %02x %02x", s->frame[0], s->frame[1]);
        s->closeCode = WsRefusedCode(s->frame);
        return kWsBadFrame;
    }
    r = ReadExact(c, s->frame + have, total - have);
    if (r != kWsGoOn) {
        if (r == kWsClosed) LogInfo("TCP read Error 6a %d", errno);
        return r;
    }
    return total;
}

int WsDispatch(Works *w, WsSession *s, const uint8_t *f, int length) {
    ++s->frames;
    WsHead h;
    if (WsParseHead(f, length, &h) != length) {
        LogInfo("frame refused: %02x %02x", f[0], length > 1 ? f[1] : 0);
        return kWsBadFrame;
    }
    const uint8_t *payload = f + h.payloadAt;
    if (h.keyAt >= 0) {
        WsUnmask(f, h, s->plain);
        payload = s->plain;
    }
    switch (h.b0) {
    case kWsText:
        if (h.extended && !h.masked) {
            Eik("XY"); // the extended text form carries nothing this system uses
            return kWsGoOn;
        }
        if (!WsValidUtf8(payload, h.length)) {
            LogInfo("text frame that is not UTF-8 refused");
            s->closeCode = 1007;
            return kWsBadFrame;
        }
        if (s->server) return Text(payload, h.length);
        break;
    case kWsBinary:
        return Binary(w, s, payload, h.length, h.extended);
    case kWsPing:
        WsSendControl(w, kWsPong, payload, h.length);
        return kWsGoOn;
    case kWsPong:
        return kWsGoOn;
    case kWsClose:
        LogInfo("close frame from the peer");
        WsSendControl(w, kWsClose, payload, h.length >= 2 ? 2 : 0);
        return kWsPeerClose;
    default:
        break;
    }
    LogErr("wrong message type: %x", h.b0);
    return kWsGoOn;
}

namespace {

// A refused frame is answered with a close frame carrying its reason.
void SendOwedClose(Works *w, const WsSession *s) {
    if (s->closeCode == 0) return;
    const uint8_t code[2] = {uint8_t(s->closeCode >> 8), uint8_t(s->closeCode)};
    WsSendControl(w, kWsClose, code, 2);
}

// Serves a peer that proved itself until its connection ends.
int ServeSession(Works *w, WsLobby *lobby, std::unique_ptr<WsPending> p) {
    auto conn = std::make_unique<WsConn>();
    auto s = std::make_unique<WsSession>();
    conn->works = w;
    conn->fd = p->fd;
    conn->server = true;
    conn->lobby = lobby;
    conn->lastRx = NowMs();
    // A standard client (it masks its frames) is pinged; this system's own
    // peers do not know the control frames.
    conn->nextPing = p->pings ? conn->lastRx + uint64_t(wsPingMs) : 0;
    std::memcpy(conn->in, p->in, size_t(p->len));
    conn->inLen = p->len;
    s->server = true;
    s->fd = p->fd;
    s->pings = p->pings;
    p->fd = -1; // the session closes it
    WsLinkUp(w, s->fd);
    std::printf("connected\n");
    std::fflush(stdout);
    LogInfo("Receiving data");
    int r = kWsGoOn;
    while (r == kWsGoOn) {
        int n = WsReadFrame(conn.get(), s.get());
        r = n < 0 ? n : WsDispatch(w, s.get(), s->frame, n);
    }
    if (r == kWsTakenOver && s->pings) {
        const uint8_t away[2] = {0x03, 0xE9}; // 1001: going away
        WsSendControl(w, kWsClose, away, 2);
    }
    SendOwedClose(w, s.get());
    RemoteCommandsTick(w, true);
    LogInfo("TCP exiting");
    WsLinkClose(w, s->fd);
    LogInfo("TCP closed");
    return r;
}

} // namespace

int WsServeConnection(Works *w, int fd) {
    auto p = NewPending(fd, 0, nullptr);
    int r = kWsGoOn;
    while (r == kWsGoOn) {
        if (!KeepGoing(w, true)) {
            r = kWsStopped;
            break;
        }
        pollfd pf{fd, POLLIN, 0};
        bool readable = poll(&pf, 1, kWsPollMs) > 0;
        r = PendingStep(w, p.get(), readable);
    }
    if (r != 1) {
        if (p->closeCode != 0) {
            const uint8_t code[2] = {uint8_t(p->closeCode >> 8), uint8_t(p->closeCode)};
            WsWriteControl(fd, kWsClose, code, 2);
        }
        LogInfo("TCP exiting");
        return r;
    }
    return ServeSession(w, nullptr, std::move(p));
}

namespace {
constexpr int kWsBindRetryMs = 5000;
constexpr uint64_t kWsBindLogMs = 60000;

// A listening socket on `bindAddr`:`port`, or -1 with errno kept.
int OpenListener(uint32_t bindAddr, int port) {
    int ls = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (ls < 0) return -1;
    int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(bindAddr);
    addr.sin_port = htons(uint16_t(port));
    if (bind(ls, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(ls, kWsBacklog) != 0) {
        int err = errno;
        close(ls);
        errno = err;
        return -1;
    }
    return ls;
}
} // namespace

void *Wsocket(void *arg) {
    Works *w = static_cast<Works *>(arg);
    int port = Port(w);
    LogInfo("Wsocket on port %d mode %c", port, w->setup->WebSocket.load());
    std::printf("wsocket\n");
    std::fflush(stdout);
    if (!Pause(w, true, wsServerStartWaitMs)) return nullptr;
    uint32_t bindAddr;
    if (!WsBindAddress(w->options.remoteBind, &bindAddr)) {
        LogErr("Binding error: RemoteBind %s is not an IPv4 address", w->options.remoteBind);
        return nullptr;
    }
    // A port in use (another program, a unit still closing) is tried again
    // every 5 s for as long as the switch is on; the failure is logged once
    // a minute.
    int ls;
    uint64_t loggedAt = 0;
    bool logged = false;
    while ((ls = OpenListener(bindAddr, port)) < 0) {
        int err = errno;
        uint64_t now = NowMs();
        if (!logged || expired(loggedAt, now, kWsBindLogMs)) {
            LogErr("Binding error %d", err);
            logged = true;
            loggedAt = now;
        }
        if (!Pause(w, true, kWsBindRetryMs)) return nullptr;
    }
    LogInfo("Listening on port %d", port);
    if (WsDefaultPhraseExposed(w))
        LogErr("default access phrase: anyone who reaches port %d can operate this unit; set "
               "AccessPhrase (and RemoteAllow) in options.txt",
               port);
    auto lobby = std::make_unique<WsLobby>();
    lobby->works = w;
    lobby->listenFd = ls;
    lobby->allow = WsReadAllowList(w->options.remoteAllow);
    while (KeepGoing(w, true)) {
        w->wsConnected = 0;
        pollfd fds[1 + kWsPendingMax];
        int n = LobbyFds(lobby.get(), fds);
        int r = poll(fds, nfds_t(n), kWsPollMs);
        LobbyService(lobby.get(), fds, r > 0 ? n : 0);
        RemoteCommandsTick(w);
        while (lobby->proved && KeepGoing(w, true)) {
            // The first to prove itself has the session; the others go.
            LobbyCloseAll(lobby.get());
            std::string ip = lobby->proved->ip;
            if (ServeSession(w, lobby.get(), std::move(lobby->proved)) == kWsTakenOver)
                LogErr("session of %s (silent for %d ms) taken over by %s", ip.c_str(),
                       wsTakeoverIdleMs.load(), lobby->proved->ip);
        }
    }
    LobbyCloseAll(lobby.get());
    lobby->proved.reset();
    close(ls);
    return nullptr;
}

int WsMakeClientKey(char key[25]) {
    uint8_t raw[16];
    int n = ReadRandom(raw, sizeof raw);
    if (n < 0) {
        LogErr("/dev/urandom error %d", errno);
        return -1;
    }
    if (n != 16) {
        LogErr("/dev/urandom read %d instead of 16, error=%d", n, errno);
        return -1;
    }
    gchar *b64 = g_base64_encode(raw, sizeof raw);
    std::snprintf(key, 25, "%s", b64);
    g_free(b64);
    return 0;
}

namespace {

constexpr int kClientHandshakeMs = 10000; // the server's answer to the request

// A connected socket to the server, or -1 (a new socket every attempt).
int Connect(Works *w) {
    char port[8];
    std::snprintf(port, sizeof port, "%d", Port(w));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    if (getaddrinfo(w->serverAddr, port, &hints, &res) != 0 || res == nullptr) {
        LogErr("ERROR, no such host as %s", w->serverAddr);
        return -1;
    }
    LogInfo("server ok");
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        LogErr("Socket error %d", errno);
        freeaddrinfo(res);
        return -1;
    }
    LogInfo("Socket for TCP created");
    int r = connect(fd, res->ai_addr, res->ai_addrlen);
    freeaddrinfo(res);
    if (r != 0 && errno == EINPROGRESS) {
        uint64_t start = NowMs();
        r = -1;
        while (KeepGoing(w, false) && !expired(start, NowMs(), 3000)) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, kWsPollMs) <= 0) continue;
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            r = err == 0 ? 0 : -1;
            break;
        }
    }
    if (r != 0) {
        LogErr("Connect Error");
        close(fd);
        return -1;
    }
    LogInfo("TCP connected");
    WsKeepAlive(fd);
    return fd;
}

} // namespace

int WsClientAttempt(Works *w, const char *key) {
    w->wsConnected = 0;
    int fd = Connect(w);
    if (fd < 0) return KeepGoing(w, false) ? 0 : kWsStopped;
    char host[64];
    std::snprintf(host, sizeof host, "Host: %s:%d\r\n", w->serverAddr, Port(w));
    char keyLine[64];
    std::snprintf(keyLine, sizeof keyLine, "Sec-WebSocket-Key: %s\r\n", key);
    const char *request[] = {"GET /chat HTTP/1.1\r\n",
                             host,
                             "Upgrade: websocket\r\n",
                             "Connection: keep-alive, Upgrade\r\n",
                             keyLine,
                             "Sec-WebSocket-Version: 13\r\n\r\n\r\n"};
    auto conn = std::make_unique<WsConn>();
    auto s = std::make_unique<WsSession>();
    conn->works = w;
    conn->fd = fd;
    conn->server = false;
    s->server = false;
    s->fd = fd;
    int r = kWsGoOn;
    for (const char *text : request) {
        if (WriteText(fd, text, int(std::strlen(text))) != 0) {
            LogInfo("TCP write Error");
            r = kWsClosed;
            break;
        }
        LogInfo("TCP write %d bytes", int(std::strlen(text)));
    }
    WsHandshake h;
    WsHandshakeClient(&h, key);
    conn->deadline = NowMs() + kClientHandshakeMs;
    if (r == kWsGoOn) r = Handshake(conn.get(), &h);
    conn->deadline = 0;
    if (r == kWsGoOn) {
        // The access phrase: a text frame with a zero key, so in clear.
        const char *phrase = WsPhrase(w);
        uint8_t frame[6 + kOptionText] = {kWsText};
        int n = int(strnlen(phrase, 125));
        frame[1] = uint8_t(n);
        std::memcpy(frame + 6, phrase, size_t(n));
        if (WsWriteAll(fd, frame, n + 6, kWsSendTimeoutMs) != 0) r = kWsClosed;
    }
    if (r == kWsGoOn) {
        WsLinkUp(w, fd);
        LogInfo("Websocket Connected");
        // A server that has gone quiet is given up and called again.
        conn->lastRx = NowMs();
        conn->silenceMs = wsClientSilenceMs;
    }
    while (r == kWsGoOn) {
        int n = WsReadFrame(conn.get(), s.get());
        if (n < 0) {
            r = n;
            break;
        }
        r = WsDispatch(w, s.get(), s->frame, n);
    }
    SendOwedClose(w, s.get());
    RemoteCommandsTick(w, true);
    WsLinkClose(w, fd);
    if (r == kWsStopped) return kWsStopped;
    LogErr("reconnecting");
    return s->frames > 0 ? 1 : 0;
}

void *Wclient(void *arg) {
    Works *w = static_cast<Works *>(arg);
    LogInfo("Wclient to server %s on port %d mode %c", w->serverAddr, Port(w),
            w->setup->WebSocket.load());
    char key[25];
    if (WsMakeClientKey(key) != 0) return nullptr;
    w->wsConnected = 0;
    int backoff = kWsBackoffMinMs;
    while (KeepGoing(w, false)) {
        int r = WsClientAttempt(w, key);
        if (r == kWsStopped) break;
        int wait;
        if (r == 1) { // the link worked: come back quickly, start the back-off over
            wait = 100;
            backoff = kWsBackoffMinMs;
        } else {
            wait = backoff;
            backoff = WsNextBackoff(backoff);
        }
        if (!Pause(w, false, wait)) break;
    }
    w->wsConnected = 0;
    return nullptr;
}
