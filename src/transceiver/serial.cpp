#include "transceiver/serial.h"

#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial.h"
#include "platform/serial_tav.h"
#include "platform/wait.h"
#include "remote/frames.h"
#include "model/errors.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

namespace {

constexpr int kSpectrumBins = 1024;
constexpr float kBinsPerHz = 0.005333f;

// A digit byte as the transceiver sends it: value = byte OR 0x30 minus '0'.
inline int Digit(uint8_t b) {
    return (b | 0x30) - '0';
}

// Silence on the link: kErrTavExtIo (TAV mode only) at most once per hold-off.
void ReportSilence(Works *w, int where) {
    if (w->errHoldOff != 0) return;
    if (w->ModeWorkIdx == 1) AddErrore(w, kErrTavExtIo);
    w->errHoldOff = 2000;
    Trace("---------------------------------------TIMEOUT EXT IO %d\n", where);
}

// The port hung up (the radio switched off, its USB adapter gone): closed; the
// link reports silence as before while the port is reopened by its path.
void PortGone(Works *w, TavLink *l, uint64_t now) {
    int fd = l->fd;
    l->fd = -1;
    w->serFD = -1;
    l->phase = 0;
    if (!SerialMarkDown(&l->port, fd, now)) return;
    LogErr("Serial: port %s hung up, reopening it", w->setup->SerPort);
    Trace("Serial: port %s hung up, reopening it\n", w->setup->SerPort);
}

// Bytes waiting on the port; a hung-up port closes it and counts as none.
int Waiting(Works *w, TavLink *l, uint64_t now) {
    if (l->fd < 0) return 0;
    int n = SerialBytesWaiting(l->fd);
    if (n < 0 && SerialGone(errno)) {
        PortGone(w, l, now);
        return 0;
    }
    return n;
}

void StartRead(TavLink *l, uint8_t *target, int count) {
    l->target = target;
    l->want = count;
    l->got = 0;
}

void HandlePayload(Works *w, TavLink *l) {
    if (l->type == 1) {
        storeParameters(w, l->length, l->buf);
        sendWebSockSerParFrame(w, l->buf, l->length);
        return;
    }
    // Spectrum: only when the USB spectrum reader is not the source.
    if (w->setup->EnableSpectrum != '0') return;
    TavParams par{};
    getParameters(&par, w);
    uint8_t bins[kSpectrumBins];
    RotateSpectrum(par, l->buf, bins);
    int count = l->length - 170;
    if (count > kSpectrumBins) count = kSpectrumBins;
    if (count > 0) sendWebSockSerSpectrFrame(w, bins, count);
}

} // namespace

int decodeCmdParameters(Works *, const uint8_t *digits, char *kind, int *length) {
    *kind = static_cast<char>(digits[0]);
    int len = 0;
    for (int i = 4; i >= 1; i--)
        len = len * 16 + Digit(digits[i]);
    if (len >= kTavBufSize) {
        char text[5];
        std::memcpy(text, digits + 1, 4);
        text[4] = '\0';
        Trace("----------> 3SERIAL : ERROR dataLength %d   %s!!!!!!\n", len, text);
        len = kTavBufSize - 1;
    }
    *length = len;
    return len;
}

int SpectrumStart(const TavParams &par) {
    float m = 0.0f;
    if (par.modeCur == 4)
        m = static_cast<float>(par.offset12) * -kBinsPerHz;
    else if (par.modeCur == 6)
        m = static_cast<float>(par.offset12) * kBinsPerHz;
    float offset = m + static_cast<float>(par.offset20) * kBinsPerHz + 85.0f;
    long start = static_cast<long>(offset);
    if (offset < 0) start = static_cast<long>(offset + kSpectrumBins);
    // Offsets beyond one turn of the ring (the signed offset reaches about
    // +-2800 bins) wrap round instead of indexing outside the payload.
    start %= kSpectrumBins;
    if (start < 0) start += kSpectrumBins;
    return static_cast<int>(start);
}

void RotateSpectrum(const TavParams &par, const uint8_t *payload, uint8_t *bins) {
    int start = SpectrumStart(par);
    for (int k = 0; k < kSpectrumBins; k++)
        bins[k] = payload[(start + k) % kSpectrumBins];
}

int writeSerialPort(int fd, const char *text, int length, Works *) {
    return SerialWriteAll(fd, text, static_cast<size_t>(length));
}

void TavTxControl(Works *w, int fd) {
    uint8_t opt = w->tuneOpt;
    if (opt & kTuneOptSendRx) {
        writeSerialPort(fd, "RX;", 3, w);
        Trace("SENT TAV RX;! (0x%x)\n", opt);
        w->tuneOpt.fetch_and(static_cast<uint8_t>(~kTuneOptSendRx));
        w->tuneOpt.fetch_or(kTuneOptRxSent);
    }
    opt = w->tuneOpt;
    if (opt & kTuneOptSendTx) {
        writeSerialPort(fd, "TU120;TX2;", 10, w);
        Trace("SENT TAV TX2;! (0x%x)\n", opt);
        w->tuneOpt.fetch_and(static_cast<uint8_t>(~kTuneOptSendTx));
        w->tuneOpt.fetch_or(kTuneOptTxSent);
    }
    uint8_t t = w->txTest;
    if (t & kTxTestSend) {
        // Transmits only once a switch to input 0 the test asked for is confirmed.
        const uint8_t input = kTxTestInput0 | kTxTestInputOk;
        if ((t & kTxTestOn) == 0) {
            writeSerialPort(fd, "RX;", 3, w);
            Trace("SENT TAV RX...\n");
            w->rxSettle = 30;
            w->txTest.fetch_and(static_cast<uint8_t>(~kTxTestSend));
        } else if ((t & input) == input || (t & input) == 0) {
            writeSerialPort(fd, "TU120;TX2;", 10, w);
            Trace("SENT TAV TX2...\n");
            w->txTest.fetch_and(static_cast<uint8_t>(~kTxTestSend));
        }
    }
}

int readSerialPort(Works *w, TavLink *l, uint64_t now) {
    if (l->got >= l->want) return 1;
    int n = Waiting(w, l, now);
    if (n > 0) {
        int take = l->want - l->got;
        if (n < take) take = n;
        long r = SerialRead(l->fd, l->target + l->got, static_cast<size_t>(take));
        if (r > 0) {
            l->got += static_cast<int>(r);
            l->idleSince = now;
            return l->got >= l->want ? 1 : 0;
        }
    }
    if (expired(l->idleSince, now, kTavSilenceMs)) {
        // A frame that stops in the middle is dropped so the link can see
        // its switch again and resynchronise on the next header.
        ReportSilence(w, 3);
        l->idleSince = now;
        l->phase = 0;
        return -1;
    }
    return 0;
}

int SerialStep(Works *w, TavLink *l, uint64_t now) {
    int fd = SerialTryReopen(&l->port, w->setup->SerPort, TavSerialSetup, now);
    if (fd >= 0) {
        l->fd = fd;
        w->serFD = fd;
        l->phase = 0;
        LogInfo("Serial: port %s open again", w->setup->SerPort);
        Trace("Serial: port %s open again\n", w->setup->SerPort);
    }
    switch (l->phase) {
    case 0: { // header: wait for a frame type byte
        int n = Waiting(w, l, now);
        if (n <= 0) {
            if (expired(l->idleSince, now, kTavSilenceMs)) {
                ReportSilence(w, 1);
                l->idleSince = now;
            }
            return 1;
        }
        uint8_t b = 0;
        long r = SerialRead(l->fd, &b, 1);
        if (r != 1) {
            LogErr("error %d", static_cast<int>(r));
            ReportSilence(w, 2);
            return 1;
        }
        l->idleSince = now;
        if (b <= 14) {
            l->type = b;
            l->phase = 1;
            StartRead(l, l->lead, 5);
        }
        return 0;
    }
    case 1: { // kind and length
        int r = readSerialPort(w, l, now);
        if (r <= 0) return r == 0 ? 1 : 0;
        decodeCmdParameters(w, l->lead, &l->kind, &l->length);
        if ((l->type == 1 && l->kind == '1') || (l->type == 0 && l->kind == '0')) {
            std::memset(l->buf, 0, sizeof l->buf);
            StartRead(l, l->buf, l->length);
            l->phase = 2;
            return 0;
        }
        if (l->type != 0 && l->type != 1) LogErr("Error3");
        TavTxControl(w, l->fd);
        l->phase = 0;
        return 0;
    }
    default: { // payload
        int r = readSerialPort(w, l, now);
        if (r <= 0) return r == 0 ? 1 : 0;
        HandlePayload(w, l);
        // The radio is heard again (its port came back): its warning leaves.
        if (ExistError(w, kErrTavExtIo)) DeleteErrore(w, kErrTavExtIo);
        TavTxControl(w, l->fd);
        l->phase = 0;
        return 0;
    }
    }
}

void *Serial(void *arg) {
    Works *w = static_cast<Works *>(arg);
    if (!PacingBySleep()) RelaxTimers(1000);
    SetupRecord *s = w->setup;
    const char *port = s->SerPort;
    LogInfo("Init Serial Port %s", port);
    TavLink link;
    link.idleSince = NowMs();
    int fd = SerialOpen(port);
    if (fd < 0) {
        // The radio may be off (its USB adapter absent): the link starts with
        // its port down, reports silence (kErrTavExtIo) and opens the port once it
        // appears.
        LogErr("Unable to open device %s", port);
        Trace("Serial: Unable to open device %s\n", port);
        SerialMarkDown(&link.port, -1, link.idleSince);
    } else if (TavSerialSetup(fd) != 0) {
        LogErr("Unable to open device %s", port);
        Trace("Serial: Unable to open device %s\n", port);
        char text[sizeof w->portErrorText];
        std::snprintf(text, sizeof text, "Serial: Unable to open device %s", port);
        ReportPortError(w, kPortTav, text);
        SerialClose(fd);
        return nullptr;
    }
    if (fd >= 0) {
        w->serFD = fd;
        LogInfo("OK works->serFD=%d (%s)", fd, port);
        Trace("------------------ OK works->serFD=%d (%s)\n", fd, port);
    }
    link.fd = fd;
    while (s->EnableSerial == '1' && w->running != 0) {
        uint64_t now = NowMs();
        int ms = SerialStep(w, &link, now);
        if (ms <= 0) continue;
        if (PacingBySleep() || ms != 1) {
            SleepMs(static_cast<uint32_t>(ms));
            continue;
        }
        // Nothing waits: sleep until bytes come, the silence is due, or the
        // port's next reopen attempt; a dropped switch is seen within 100 ms.
        uint64_t until = link.idleSince + kTavSilenceMs;
        if (link.port.down && link.port.nextTry < until) until = link.port.nextTry;
        int left = until > now ? static_cast<int>(std::min<uint64_t>(until - now, 100)) : 1;
        WaitPortOrWake(link.fd, -1, left);
    }
    Trace("---------------------------------------Serial EXIT %x\n",
          static_cast<unsigned>(static_cast<unsigned char>(s->EnableSerial.load())));
    w->serFD = -1;
    SerialClose(link.fd);
    return nullptr;
}
