// Fuzz target over the server side of the remote link: the bytes a peer sends
// (handshake, access phrase, frames) go through one end of a socket pair into
// the connection loop. When the first input byte is odd, a valid handshake
// and the phrase are put in front, so mutations reach the frames quickly:
// this system's own request and phrase, or (bit 1 also set) a standard
// client's request and a masked phrase.
#include "config/setup.h"
#include "model/works.h"
#include "display/fb.h"
#include "remote/commands.h"
#include "remote/wsocket.h"
#include "unit_record.h"

#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

namespace {

struct FuzzUnit : UnitRecord {
    uint8_t screen[16 * 16 * 4]{};
};

int reboots = 0;
void CountReboot() {
    ++reboots; // never a real reboot from the fuzzer
}

FuzzUnit *Unit() {
    static FuzzUnit *u = [] {
        auto *f = new FuzzUnit;
        Works *w = &f->works;
        // A 16x16 screen: a raw "FB" object is 1024 bytes, two chunks.
        fbSetup(&w->fb, 16, 16, 32, f->screen);
        f->setup.EnableGPIO = '0'; // the reboot's panel notice returns at once
        f->setup.EnableWrite = '1';
        remoteRebootWaitMs = 0;
        setlogmask(LOG_MASK(LOG_EMERG)); // a million runs must not flood the system log
        remoteRebootAction = CountReboot;
        return f;
    }();
    return u;
}

const char kPrefix[] = "GET /chat HTTP/1.1\r\nHost: h:6666\r\nUpgrade: websocket\r\n"
                       "Connection: keep-alive, Upgrade\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                       "Sec-WebSocket-Protocol: chat\r\nSec-WebSocket-Version: 13\r\n\r\n";
const char kStandard[] =
    "GET / HTTP/1.1\r\nhost: h\r\nconnection: Upgrade\r\nupgrade: websocket\r\n"
    "Origin: http://h\r\nSec-WebSocket-Version: 13\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzUnit *u = Unit();
    Works *w = &u->works;
    w->running = 1;
    u->setup.WebSocket = '1';
    w->catFD = -1;
    w->serFD = -1;
    std::string in;
    if (size > 0 && (data[0] & 1)) {
        bool standard = (data[0] & 2) != 0;
        in = standard ? kStandard : kPrefix;
        const char *phrase = w->accessPhrase;
        const char key[4] = {0x37, 0x11, 0x5A, 0x7E};
        in += char(0x81);
        in += char(std::strlen(phrase) | (standard ? 0x80 : 0));
        for (size_t i = 0; i < 4; ++i)
            in += standard ? key[i] : '\0';
        for (size_t i = 0; phrase[i] != '\0'; ++i)
            in += char(phrase[i] ^ (standard ? key[i % 4] : 0));
    }
    if (size > 0) in.append(reinterpret_cast<const char *>(data) + 1, size - 1);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    int big = 1 << 20;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    size_t off = 0;
    while (off < in.size()) { // what does not fit the socket is cut off
        ssize_t n = send(fds[1], in.data() + off, in.size() - off, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += size_t(n);
    }
    shutdown(fds[1], SHUT_WR);
    WsServeConnection(w, fds[0]); // closes fds[0]
    close(fds[1]);
    return 0;
}
