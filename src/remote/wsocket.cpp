#include "remote/wsocket.h"

#include "model/works.h"
#include "display/fb.h"
#include "remote/screen_image.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/random.h"
#include "platform/serial.h"
#include "remote/audio.h"
#include "remote/commands.h"
#include "remote/frames.h"
#include "model/hooks.h"
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
#include <sys/socket.h>
#include <unistd.h>

int wsServerStartWaitMs = 2000;

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
        SleepMs(ms < 20 ? uint32_t(ms) : 20);
    }
    return KeepGoing(w, server);
}

// Waits for more input; kWsGoOn when bytes were added.
int Fill(WsConn *c) {
    if (c->inPos == c->inLen) c->inPos = c->inLen = 0;
    if (c->inPos > 0 && c->inLen == int(sizeof c->in)) {
        std::memmove(c->in, c->in + c->inPos, size_t(c->inLen - c->inPos));
        c->inLen -= c->inPos;
        c->inPos = 0;
    }
    for (;;) {
        if (!KeepGoing(c->works, c->server)) return kWsStopped;
        if (c->deadline != 0 && NowMs() >= c->deadline) return kWsTimedOut;
        pollfd p{c->fd, POLLIN, 0};
        int r = poll(&p, 1, kWsPollMs);
        if (r < 0 && errno != EINTR) return kWsClosed;
        if (r <= 0) continue;
        ssize_t n = recv(c->fd, c->in + c->inLen, sizeof c->in - size_t(c->inLen), MSG_DONTWAIT);
        if (n > 0) {
            c->inLen += int(n);
            return kWsGoOn;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
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

// One handshake line (up to kWsLineMax characters, NUL-terminated); returns
// its length or a WsEnd. A longer line comes out in pieces without a line end.
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

int WriteText(int fd, const char *text) {
    return WsWriteAll(fd, reinterpret_cast<const uint8_t *>(text), int(std::strlen(text)),
                      kWsSendTimeoutMs);
}

void Eik(const char *tag) {
    LogInfo("EIK, %s", tag);
    Trace("EIK, %s\n", tag);
}

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
    if (uint32_t(total) == fb->memSize) {
        fbInvalidate(fb); // before the copy: a kept band gives its rows back first
        std::memcpy(fb->backMem, s->fbBuf.data(), fb->memSize);
        std::memcpy(fb->workMem, fb->backMem, fb->memSize);
        fbRealize(fb);
        return;
    }
    // Any other size is a JPEG image; one that does not decode to the screen's
    // size leaves the screen as it was.
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

int Binary(Works *w, WsSession *s, const uint8_t *f, int length) {
    bool extended = f[1] == 126;
    const uint8_t *payload = f + (extended ? 4 : 2);
    int pl = length - (extended ? 4 : 2);
    char tag[3] = {char(payload[0]), char(payload[1]), 0};
    const uint8_t *body = payload + 2;
    int bl = pl - 2;
    if (s->server && !s->phraseOk) return kWsGoOn; // nothing before the phrase
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
    LogErr("wrong message type: %x", f[0]);
    return kWsGoOn;
}

int Text(Works *w, WsSession *s, const uint8_t *f, int length) {
    int n = f[1] & 0x7F;
    if (n != length - 6) {
        LogInfo("wrong message length: is %d instead of %d", n, length - 6);
        return kWsBadFrame;
    }
    char text[128] = {};
    for (int i = 0; i < n; ++i)
        text[i] = char(f[6 + i] ^ f[2 + (i % 4)]);
    if (s->firstText) {
        s->firstText = false;
        const char *phrase = w->accessPhrase;
        if (size_t(n) != std::strlen(phrase) || std::memcmp(text, phrase, size_t(n)) != 0) {
            LogErr("required >%s< differ from >%s<", phrase, text);
            return kWsWrongPhrase;
        }
        LogInfo("required >%s< equals to >%s<", phrase, text);
        s->phraseOk = true;
        WsLinkUp(w, s->fd);
        std::printf("connected\n");
        std::fflush(stdout);
        LogInfo("Receiving data");
        return kWsGoOn;
    }
    if (std::strncmp(text, "XY", 2) == 0) {
        Eik("XY");
        int x = 0, y = 0;
        std::sscanf(text + 2, "%5d%5d", &x, &y); // pointer position: not used
    }
    return kWsGoOn;
}

} // namespace

int WsReadFrame(WsConn *c, WsSession *s) {
    int r = ReadExact(c, s->frame, 4);
    if (r != kWsGoOn) {
        if (r == kWsClosed) LogInfo("TCP read Error 1a %d", errno);
        return r;
    }
    int rest = WsFrameRest(s->frame);
    if (rest < 0) {
        LogInfo("frame refused: %02x %02x %02x %02x", s->frame[0], s->frame[1], s->frame[2],
                s->frame[3]);
        return kWsBadFrame;
    }
    r = ReadExact(c, s->frame + 4, rest);
    if (r != kWsGoOn) {
        if (r == kWsClosed) LogInfo("TCP read Error 6a %d", errno);
        return r;
    }
    return 4 + rest;
}

int WsDispatch(Works *w, WsSession *s, const uint8_t *f, int length) {
    ++s->frames;
    uint8_t b0 = f[0], b1 = f[1];
    if (b0 == 0x81 && (b1 & 0x7F) < 126) { // with or without the mask bit
        if (!s->server) {
            LogErr("wrong message type: %x", b0);
            return kWsGoOn;
        }
        return Text(w, s, f, length);
    }
    if (b0 == 0x81 && b1 == 126) {
        Eik("XY"); // the extended text form carries nothing this system uses
        return kWsGoOn;
    }
    if (b0 == 0x82 && length >= 4) return Binary(w, s, f, length);
    LogErr("wrong message type: %x", b0);
    return kWsGoOn;
}

int WsServeConnection(Works *w, int fd) {
    auto conn = std::make_unique<WsConn>();
    auto s = std::make_unique<WsSession>();
    conn->works = w;
    conn->fd = fd;
    conn->server = true;
    s->server = true;
    s->fd = fd;
    // A peer has kWsHandshakeMs for the request and its access phrase.
    conn->deadline = NowMs() + kWsHandshakeMs;
    WsHandshake h;
    int r = Handshake(conn.get(), &h);
    if (r == kWsGoOn) {
        char accept[29];
        char line[64];
        WsAcceptValue(h.key, accept);
        std::snprintf(line, sizeof line, "Sec-WebSocket-Accept: %s\r\n", accept);
        const char *reply[] = {"HTTP/1.1 101 Switching Protocols\r\n", "Upgrade: websocket\r\n",
                               "Connection: Upgrade\r\n", line,
                               "Sec-WebSocket-Protocol: chat\r\n\r\n"};
        for (const char *text : reply) {
            if (WriteText(fd, text) != 0) {
                r = kWsClosed;
                break;
            }
        }
        LogInfo("Sec-WebSocket-Accept: %s", accept);
    } else if (r == kWsTimedOut) {
        LogInfo("handshake not complete in %d ms", kWsHandshakeMs);
    }
    while (r == kWsGoOn) {
        int n = WsReadFrame(conn.get(), s.get());
        if (n < 0) {
            r = n;
            break;
        }
        r = WsDispatch(w, s.get(), s->frame, n);
        if (s->phraseOk) conn->deadline = 0;
    }
    LogInfo("TCP exiting");
    WsLinkClose(w, fd);
    LogInfo("TCP closed");
    return r;
}

void *Wsocket(void *arg) {
    Works *w = static_cast<Works *>(arg);
    int port = Port(w);
    LogInfo("Wsocket on port %d mode %c", port, w->setup->WebSocket.load());
    std::printf("wsocket\n");
    std::fflush(stdout);
    if (!Pause(w, true, wsServerStartWaitMs)) return nullptr;
    int ls = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ls < 0) {
        LogErr("Socket open error %d", errno);
        return nullptr;
    }
    int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(uint16_t(port));
    if (bind(ls, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        LogErr("Binding error %d", errno);
        close(ls);
        return nullptr;
    }
    if (listen(ls, 1) != 0) {
        LogErr("Listening error %d", errno);
        close(ls);
        return nullptr;
    }
    LogInfo("Listening on port %d", port);
    while (KeepGoing(w, true)) {
        w->wsConnected = 0;
        pollfd p{ls, POLLIN, 0};
        if (poll(&p, 1, kWsPollMs) <= 0) continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = accept4(ls, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) { // a peer that reset before we took it: wait for the next
            LogErr("Accept-ing error %d", errno);
            continue;
        }
        char ip[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        LogInfo("Connected by %s", ip);
        if (WsServeConnection(w, fd) == kWsWrongPhrase) Pause(w, true, 1000);
    }
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
        if (WriteText(fd, text) != 0) {
            LogInfo("TCP write Error");
            r = kWsClosed;
            break;
        }
        LogInfo("TCP write %d bytes", int(std::strlen(text)));
    }
    WsHandshake h;
    WsHandshakeClient(&h, key);
    conn->deadline = NowMs() + kWsHandshakeMs;
    if (r == kWsGoOn) r = Handshake(conn.get(), &h);
    conn->deadline = 0;
    if (r == kWsGoOn) {
        // The access phrase: a text frame with a zero key, so in clear.
        uint8_t frame[6 + sizeof w->accessPhrase] = {0x81};
        int n = int(strnlen(w->accessPhrase, sizeof w->accessPhrase - 1));
        frame[1] = uint8_t(n);
        std::memcpy(frame + 6, w->accessPhrase, size_t(n));
        if (WsWriteAll(fd, frame, n + 6, kWsSendTimeoutMs) != 0) r = kWsClosed;
    }
    if (r == kWsGoOn) {
        WsLinkUp(w, fd);
        LogInfo("Websocket Connected");
    }
    while (r == kWsGoOn) {
        int n = WsReadFrame(conn.get(), s.get());
        if (n < 0) {
            r = n;
            break;
        }
        r = WsDispatch(w, s.get(), s->frame, n);
    }
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
