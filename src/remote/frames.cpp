#include "remote/frames.h"

#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "remote/ws_proto.h"

#include <cerrno>
#include <cstring>
#include <opus/opus.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

int WsWriteAll(int fd, const uint8_t *data, int length, int timeoutMs) {
    uint64_t start = NowMs();
    int done = 0;
    while (done < length) {
        ssize_t r = send(fd, data + done, size_t(length - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r > 0) {
            done += int(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        uint64_t now = NowMs();
        if (expired(start, now, uint64_t(timeoutMs))) return -1;
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, int(uint64_t(timeoutMs) - (now - start)));
    }
    return 0;
}

namespace {

// Writes one frame on the published socket; the caller holds sendMut. A write
// that fails or stalls takes the link down: the socket is shut down (the
// reader sees the end and closes it), the descriptor itself stays the reader's.
int WriteFrameLocked(Works *w, const uint8_t *frame, int length) {
    int fd = w->wsSocket;
    if (w->wsConnected != 1 || fd < 0) return -1;
    if (WsWriteAll(fd, frame, length, kWsSendTimeoutMs) == 0) return 0;
    LogErr("send error %d: link down", errno);
    w->wsConnected = 0;
    shutdown(fd, SHUT_RDWR);
    return -1;
}

int LockSend(Works *w) {
    if (pthread_mutex_lock(w->sendMut) != 0) {
        LogErr("mutex cannot be locked");
        return -1;
    }
    return 0;
}

void UnlockSend(Works *w) {
    if (pthread_mutex_unlock(w->sendMut) != 0) LogErr("mutex cannot be unlocked");
}

// Header and tag of a binary frame with `length` body bytes; returns its size.
// Audio always goes in the extended form, which is where receivers look for it.
int BuildHead(uint8_t *frame, const char tag[2], int length, bool extended = false) {
    frame[0] = 0x82;
    int p = length + 2;
    int h;
    if (p <= 125 && !extended) {
        frame[1] = uint8_t(p);
        h = 2;
    } else {
        frame[1] = 126;
        frame[2] = uint8_t(p >> 8);
        frame[3] = uint8_t(p);
        h = 4;
    }
    frame[h] = uint8_t(tag[0]);
    frame[h + 1] = uint8_t(tag[1]);
    return h + 2;
}

} // namespace

int WsSendTagged(Works *w, const char tag[2], const uint8_t *body, int length) {
    if (w == nullptr || w->wsConnected != 1) return -1;
    if (length < 0 || length + 6 > kWsRecvMax) return -1;
    std::vector<uint8_t> frame(size_t(length) + 6);
    int h = BuildHead(frame.data(), tag, length);
    if (length > 0) std::memcpy(frame.data() + h, body, size_t(length));
    SleepUs(10);
    if (LockSend(w) != 0) return -1;
    int r = WriteFrameLocked(w, frame.data(), h + length);
    UnlockSend(w);
    return r;
}

namespace {
int ControlFrame(uint8_t *frame, uint8_t kind, const uint8_t *payload, int length) {
    if (length < 0 || length > 125) length = 0;
    frame[0] = kind;
    frame[1] = uint8_t(length);
    if (length > 0) std::memcpy(frame + 2, payload, size_t(length));
    return length + 2;
}
} // namespace

int WsSendControl(Works *w, uint8_t kind, const uint8_t *payload, int length) {
    if (w == nullptr || w->wsConnected != 1) return -1;
    uint8_t frame[127];
    int n = ControlFrame(frame, kind, payload, length);
    if (LockSend(w) != 0) return -1;
    int r = WriteFrameLocked(w, frame, n);
    UnlockSend(w);
    return r;
}

int WsWriteControl(int fd, uint8_t kind, const uint8_t *payload, int length) {
    uint8_t frame[127];
    int n = ControlFrame(frame, kind, payload, length);
    return WsWriteAll(fd, frame, n, kWsSendTimeoutMs);
}

int WsSendChunked(Works *w, const char tag[2], const uint8_t *data, int total) {
    if (w == nullptr || w->wsConnected != 1 || total <= 0) return -1;
    uint8_t chunk[kWsChunkFrame];
    for (int o = 0; o < total; o += kWsChunkData) {
        std::memset(chunk, 0, sizeof chunk);
        chunk[0] = 0x82;
        chunk[1] = 126;
        chunk[2] = (kWsChunkFrame - 4) >> 8;
        chunk[3] = (kWsChunkFrame - 4) & 0xFF;
        chunk[4] = uint8_t(tag[0]);
        chunk[5] = uint8_t(tag[1]);
        WsPut32(chunk + 6, uint32_t(total));
        WsPut32(chunk + 10, uint32_t(o));
        int n = total - o < kWsChunkData ? total - o : kWsChunkData;
        std::memcpy(chunk + 14, data + o, size_t(n));
        SleepUs(10);
        if (LockSend(w) != 0) return -1;
        int r = WriteFrameLocked(w, chunk, kWsChunkFrame);
        UnlockSend(w);
        if (r != 0) return -1; // the rest of this object is not sent
    }
    return 0;
}

int sendWebSockSerParFrame(Works *w, const uint8_t *payload, int length) {
    if (length > kWsShortBody) return -1; // would not be a valid short frame
    return WsSendTagged(w, "PA", payload, length);
}

int sendWebSockCatFrame(Works *w, const uint8_t *text, int length) {
    if (length > kWsShortBody) return -1;
    return WsSendTagged(w, "CA", text, length);
}

int sendWebSockSerSpectrFrame(Works *w, const uint8_t *bins, int count) {
    return WsSendChunked(w, "SP", bins, count);
}

int sendWebSockStatusFrame(Works *w, const char *text, int length) {
    if (w == nullptr || w->wsConnected != 1 || length < 0 || length > kWsShortBody) return -1;
    uint8_t frame[kWsShortBody + 4];
    int h = BuildHead(frame, "ST", length);
    std::memcpy(frame + h, text, size_t(length));
    // The supervisor must never wait on the network: a busy lock skips this pass.
    if (pthread_mutex_trylock(w->sendMut) != 0) return -1;
    int r = WriteFrameLocked(w, frame, h + length);
    UnlockSend(w);
    return r;
}

int sendWebSockRemoteCmd(Works *w, const char *command) {
    int n = int(strnlen(command, kWsShortBody + 1));
    if (n > kWsShortBody) return -1;
    return WsSendTagged(w, "ST", reinterpret_cast<const uint8_t *>(command), n);
}

int sendWebSockAudioFrame(Works *w, const int16_t *samples) {
    if (w == nullptr || w->wsConnected != 1) return -1;
    int frames = w->audioFrame;
    int raw = frames * 4;
    // Body: 32-bit length, then the packet; the whole frame must fit a receiver.
    if (frames <= 0 || raw + 10 > kWsRecvMax) {
        LogErr("audio frame of %d samples too long to send", frames);
        return -1;
    }
    std::vector<uint8_t> frame(size_t(raw) + 10);
    int n;
    if (w->audioBitrate != 0 && w->opusEnc != nullptr) {
        n = opus_encode(static_cast<OpusEncoder *>(w->opusEnc), samples, frames, frame.data() + 10,
                        raw);
        if (n < 0) {
            Trace("encode failed: %s\n", opus_strerror(n));
            return -1;
        }
    } else {
        n = raw;
        std::memcpy(frame.data() + 10, samples, size_t(raw));
    }
    if (n <= 0) return -1;
    BuildHead(frame.data(), "SO", n + 4, true);
    WsPut32(frame.data() + 6, uint32_t(n));
    SleepUs(10);
    if (LockSend(w) != 0) return -1;
    int r = WriteFrameLocked(w, frame.data(), n + 10);
    UnlockSend(w);
    if (r != 0) LogInfo("rc(%d) != length+10(%d)", r, n + 10);
    return r;
}

void WsLinkUp(Works *w, int fd) {
    if (LockSend(w) == 0) {
        w->wsSocket = fd;
        UnlockSend(w);
    }
    if (pthread_mutex_lock(w->connMut) != 0) {
        LogErr("mutex cannot be locked");
        return;
    }
    w->wsConnected = 1;
    if (pthread_mutex_unlock(w->connMut) != 0) LogErr("mutex cannot be unlocked");
}

void WsLinkClose(Works *w, int fd) {
    // Under the send lock no sender can be between its check and its write.
    bool locked = pthread_mutex_lock(w->sendMut) == 0;
    w->wsConnected = 0;
    if (w->wsSocket == fd) w->wsSocket = -1;
    if (fd >= 0 && close(fd) != 0) LogErr("TCP close Error");
    if (locked) UnlockSend(w);
}
