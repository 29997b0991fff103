// Fuzz target over the TAV transceiver's serial link: the input is what the
// transceiver sends (frame type, kind, four length digits, payload, any
// number of frames and garbage between them). It goes through one end of a
// socket pair into the link's step, with a fake clock that jumps past the
// silence time-out whenever a frame stops in the middle.
#include "fuzz_root.h"
#include "transceiver/serial.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    UnitRecord *u = fuzzroot::Unit();
    Works *w = &u->works;
    // Odd first byte: the link decodes spectra itself (no USB reader).
    u->setup.EnableSpectrum = size > 0 && (data[0] & 1) ? '0' : '1';
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    int big = 1 << 20;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    fcntl(fds[0], F_SETFL, O_NONBLOCK); // transmit commands must never block
    size_t off = 0;
    while (off < size) { // what does not fit the socket is cut off
        ssize_t n = send(fds[1], data + off, size - off, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    TavLink link;
    link.fd = fds[0];
    uint64_t now = 100000;
    link.idleSince = now;
    // Each byte needs at most a few passes; the bound only stops a link that
    // would never finish.
    for (size_t pass = 0; pass < 4 * off + 64; pass++) {
        int ms = SerialStep(w, &link, now);
        if (ms > 0) {
            if (link.phase == 0) break; // all read, nothing half-way
            now += kTavSilenceMs + 1;   // drop the cut frame
        }
    }
    close(fds[0]);
    close(fds[1]);
    return 0;
}
