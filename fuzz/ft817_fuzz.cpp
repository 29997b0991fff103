// Fuzz target over the transceivers' CAT replies: the input is what an FT-817
// answers to the frequency requests, fed through one end of a socket pair to
// the CAT serial link's step (fake clock), and the same bytes as answers of
// the TAV transceiver's CAT port through the ';' collector.
#include "fuzz_root.h"
#include "transceiver/cat.h"
#include "transceiver/cat_serial.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Works *w = &fuzzroot::Unit()->works;
    CatCollector collector;
    for (size_t i = 0; i < size; i++) {
        int len = CatCollect(&collector, data[i]);
        if (len < 0 || len > kCatMsgSize || (len > 0 && collector.buf[len - 1] != ';'))
            std::abort();
    }

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    int big = 1 << 20;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    size_t off = 0;
    while (off < size) {
        ssize_t n = send(fds[1], data + off, size - off, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    CatSerialLink link;
    link.fd = fds[0];
    uint64_t now = 100000;
    catProcessStatus = 3;
    for (size_t pass = 0; pass < 4 * off + 16; pass++) {
        int ms = CatSerialStep(w, &link, now);
        if (ms > 0 && catProcessStatus.load() == 2) {
            if (link.got == 0) break; // all read
            now += kCatSilenceMs + 1; // a cut reply times out
        }
    }
    close(fds[0]);
    close(fds[1]);
    return 0;
}
