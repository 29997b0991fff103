#include "transceiver/cat_serial.h"

#include "remote/audio.h"

#include "model/errors.h"
#include "model/works.h"
#include "platform/usb.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/serial.h"
#include "platform/serial_cat.h"
#include "platform/shell.h"
#include "platform/wait.h"

#include <algorithm>
#include <iterator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::atomic<int> catProcessStatus{0};
std::atomic<int> lastCommandSent{0};
std::atomic<int> counterimeoutCAT{0};

namespace {
constexpr uint8_t kFreqRequest[5] = {0x00, 0x00, 0x00, 0x00, 0x03};
}

bool VerifyByteFreq(uint8_t b) {
    return (b & 0x0F) > 9 || b >= 0xA0;
}

int writeSerialCatPort(int fd, const uint8_t *bytes, int length, Works *) {
    int r = SerialWriteAll(fd, bytes, static_cast<size_t>(length));
    counterimeoutCAT = 0;
    return r;
}

namespace {

// The FT-817's mode bytes (the high bit marks a narrow filter).
bool KnownMode(uint8_t m) {
    // LSB, USB, CW, CWR, AM, WFM, FM, DIG, PKT
    static const uint8_t kModes[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x06, 0x08, 0x0A, 0x0C};
    return std::find(std::begin(kModes), std::end(kModes), m & 0x7F) != std::end(kModes);
}

// A frequency the FT-817 can receive: 100 kHz to 56 MHz, 76 to 154 MHz and
// 420 to 470 MHz.
bool RadioCanHave(int32_t f) {
    return (f >= 100000 && f <= 56000000) || (f >= 76000000 && f <= 154000000) ||
           (f >= 420000000 && f <= 470000000);
}

} // namespace

int DecodeCatSerialCmd(Works *w, const uint8_t *r, int length) {
    if (lastCommandSent != 3 || length < 5) return 0;
    lastCommandSent = 0;
    if (VerifyByteFreq(r[0]) || VerifyByteFreq(r[1]) || VerifyByteFreq(r[2]) ||
        VerifyByteFreq(r[3])) {
        Trace("CAT FT817 freq not decoded :  %02x %02x %02x %02x %02x\n", r[0], r[1], r[2], r[3],
              r[4]);
        return 0;
    }
    auto dec = [](uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); };
    int32_t f = dec(r[0]) * 10000000 + dec(r[1]) * 100000 + dec(r[2]) * 1000 + dec(r[3]) * 10;
    if (!KnownMode(r[4]) || !RadioCanHave(f)) {
        // Digits, but no answer the radio can give: a reply shifted by a
        // stray byte, or line noise.
        Trace("CAT FT817 reply not plausible :  %02x %02x %02x %02x %02x\n", r[0], r[1], r[2], r[3],
              r[4]);
        return 0;
    }
    w->catMode = r[4];
    if (w->catFreq.exchange(f) != f) WakeSupervisor(w);
    return 1;
}

namespace {

// The port hung up: closed, and reopened by its path once a second.
void PortGone(Works *w, CatSerialLink *l, uint64_t now) {
    int fd = l->fd;
    l->fd = -1;
    w->catSerFD = -1;
    if (!SerialMarkDown(&l->port, fd, now)) return;
    LogErr("CAT: port %s hung up, reopening it", w->setup->CatSerialPort);
    Trace("CAT: port %s hung up, reopening it\n", w->setup->CatSerialPort);
}

} // namespace

int CatSerialStep(Works *w, CatSerialLink *l, uint64_t now) {
    int fd = SerialTryReopen(&l->port, w->setup->CatSerialPort, CatSerialSetup, now);
    if (fd >= 0) {
        l->fd = fd;
        w->catSerFD = fd;
        l->got = 0;
        catProcessStatus = 3;
        LogInfo("CAT: port %s open again", w->setup->CatSerialPort);
        Trace("CAT: port %s open again\n", w->setup->CatSerialPort);
    }
    switch (catProcessStatus.load()) {
    case 3:
        // Whatever waits is stale (a late reply, line noise): dropped, so the
        // reply to this request starts the frame.
        if (l->fd >= 0) SerialDiscardInput(l->fd);
        if (l->fd >= 0) writeSerialCatPort(l->fd, kFreqRequest, 5, w);
        lastCommandSent = 3;
        l->sentAt = now;
        l->got = 0;
        catProcessStatus = 2;
        return 0;
    case 2: {
        int n = l->fd < 0 ? 0 : SerialBytesWaiting(l->fd);
        if (n < 0 && SerialGone(errno)) {
            PortGone(w, l, now);
            n = 0;
        }
        if (n <= 0) {
            counterimeoutCAT++;
            if (expired(l->sentAt, now, kCatSilenceMs)) {
                Trace("<<<<<<<<<<<<<<<<<<<<TIMEOUT SERIAL CAT!!!!\n");
                if (!ExistError(w, kErrCatNoAnswer)) AddErrore(w, kErrCatNoAnswer);
                l->got = 0;
                catProcessStatus = 3;
                return 1000;
            }
            return 1;
        }
        // What waits of the reply, up to its five bytes.
        long r = SerialRead(l->fd, l->reply + l->got, static_cast<size_t>(std::min(n, 5 - l->got)));
        if (r <= 0) {
            LogErr("timeout %d", static_cast<int>(r));
            return 20;
        }
        l->got += static_cast<int>(r);
        if (l->got < 5) return 0;
        // Decoded after a short pause, in which a byte beyond the five (the
        // frame shifted by a stray byte) has time to arrive and be seen.
        catProcessStatus = 1;
        return 2;
    }
    default: { // 1: decode
        // A byte beyond the five means the frame was not the reply alone.
        bool extra = l->fd >= 0 && SerialBytesWaiting(l->fd) > 0;
        if (!extra && DecodeCatSerialCmd(w, l->reply, l->got) == 1) {
            l->badRun = 0;
            // The radio answers: its warning leaves by itself.
            if (ExistError(w, kErrCatNoAnswer)) DeleteErrore(w, kErrCatNoAnswer);
        } else {
            lastCommandSent = 0;
            // Resynchronise: the rest of a bad frame is dropped before the
            // next request; a run of bad replies is a link that does not answer.
            if (l->fd >= 0) SerialDiscardInput(l->fd);
            if (++l->badRun >= kCatBadReplies && !ExistError(w, kErrCatNoAnswer))
                AddErrore(w, kErrCatNoAnswer);
        }
        l->got = 0;
        catProcessStatus = 3;
        return 20; // the pause after a decode
    }
    }
}

void *CatSerial(void *arg) {
    Works *w = static_cast<Works *>(arg);
    if (!PacingBySleep()) RelaxTimers(1000);
    SetupRecord *s = w->setup;
    const char *port = s->CatSerialPort;
    LogInfo("Init CATSerial Port %s", port);
    char text[sizeof w->portErrorText];
    CatSerialLink link;
    int fd = SerialOpen(port);
    if (fd < 0) {
        // The radio may be off (its USB adapter absent): the link starts with
        // its port down, raises warning 25 as for a silent radio and opens
        // the port once it appears.
        LogErr("Unable to open device %s", port);
        Trace("CAT: Unable to open device %s\n", port);
        SerialMarkDown(&link.port, -1, NowMs());
    } else if (CatSerialSetup(fd) != 0) {
        LogErr("Unable to set comm port %s", port);
        std::snprintf(text, sizeof text, "CAT: Unable to set comm port %s", port);
        ReportPortError(w, kPortCatSerial, text);
        SerialClose(fd);
        return nullptr;
    }
    if (fd >= 0) {
        w->catSerFD = fd;
        LogInfo("OK works->catSerFD=%d (%s)", fd, port);
        Trace("---------------- OK works->catSerFD=%d (%s)\n", fd, port);
    }
    lastCommandSent = 0;
    catProcessStatus = 3;
    link.fd = fd;
    while (s->EnableCatSerial == '1' && w->running != 0) {
        uint64_t now = NowMs();
        int ms = CatSerialStep(w, &link, now);
        if (ms == 1 && catProcessStatus == 2 && !PacingBySleep()) {
            // Waiting for the reply: until its bytes come or its time-out.
            uint64_t until = link.sentAt + kCatSilenceMs;
            if (link.port.down && link.port.nextTry < until) until = link.port.nextTry;
            int left = until > now ? static_cast<int>(std::min<uint64_t>(until - now, 100)) : 1;
            WaitPortOrWake(link.fd, -1, left);
            continue;
        }
        // Long pauses in short steps so a dropped switch is seen soon (at
        // once with the fixed sleeps of before: 10 ms steps).
        const uint32_t stepMs = PacingBySleep() ? 10u : 100u;
        uint64_t start = NowMs();
        while (ms > 0 && !expired(start, NowMs(), static_cast<uint64_t>(ms)) &&
               s->EnableCatSerial == '1' && w->running != 0)
            SleepMs(static_cast<uint32_t>(ms) < stepMs ? static_cast<uint32_t>(ms) : stepMs);
    }
    w->catSerFD = -1;
    SerialClose(link.fd);
    return nullptr;
}

// ---- TAV transceiver CAT port probe ----

namespace {

bool ProbeStopped(Works *w, const std::atomic<char> *watch) {
    return w->running == 0 || (watch != nullptr && watch->load() != '1');
}

// Waits up to a read's 1 s for a byte, in short steps so that a dropped switch
// ends the probe at once. 1: something waits; 0: nothing came; -1: stopped.
int WaitProbeByte(int fd, Works *w, const std::atomic<char> *watch) {
    uint64_t start = NowMs();
    for (;;) {
        if (ProbeStopped(w, watch)) return -1;
        if (SerialBytesWaiting(fd) != 0) return 1; // bytes, or an error read() reports
        if (expired(start, NowMs(), 1000)) return 0;
        SleepMs(10);
    }
}

// Opens one candidate and asks "DT;"; returns the descriptor when it answers
// "DT001", else -1 (closed), or -2 when the probe was stopped.
int ProbePort(const std::string &real, Works *w, const std::atomic<char> *watch) {
    std::string name = UnresolvePath(real);
    int fd = SerialOpenResolved(real);
    if (fd < 0) {
        LogErr("Cannot open %s, error %d -%s", name.c_str(), errno, std::strerror(errno));
        return -1;
    }
    LogInfo("Opened  %s", name.c_str());
    Trace("Opened %s---------------------------------------------\n", name.c_str());
    if (CatProbeSetup(fd) != 0) {
        LogErr("Cannot set %s, error %d -%s", name.c_str(), errno, std::strerror(errno));
        SerialClose(fd);
        return -1;
    }
    LogInfo("Set %s", name.c_str());
    Trace("set %s---------------------------------------------\n", name.c_str());
    LogInfo("Send \"DT;\" %s", name.c_str());
    if (SerialWrite(fd, "DT;", 3) != 3) LogErr("Cannot write %s, error %d", name.c_str(), errno);
    LogInfo("Sent \"DT;\" %s", name.c_str());
    Trace("sent %s---------------------------------------------\n", name.c_str());

    CatProbeTimedRead(fd);
    char answer[6] = {};
    int got = 0;
    uint64_t start = NowMs();
    // Each read waits at most 1 s; a port that goes quiet after part of an
    // answer is given up after a few seconds instead of read for ever.
    while (got < 5) {
        int ready = WaitProbeByte(fd, w, watch);
        if (ready < 0) {
            SerialClose(fd);
            return -2;
        }
        long r = ready > 0 ? SerialRead(fd, answer + got, 1) : 0;
        if (r > 0) got += static_cast<int>(r);
        LogInfo("Received %d \"%s\" %s", static_cast<int>(r), answer, name.c_str());
        if (r < 0 && errno != EINTR && errno != EAGAIN) break;
        if (r <= 0 && got == 0) break;
        if (expired(start, NowMs(), kCatProbeBoundMs)) break;
    }
    LogInfo("Received \"%s\" %s", answer, name.c_str());
    if (got == 5 && std::memcmp(answer, "DT001", 5) == 0) {
        Trace("received DT001; %s---------------------------------------------\n", name.c_str());
        std::fflush(stderr);
        return fd;
    }
    SerialClose(fd);
    LogInfo("Cannot connect TAV using %s", name.c_str());
    return -1;
}

} // namespace

int VerifyCAT(Works *w, const std::atomic<char> *watch, std::string *found) {
    Trace("CAT serial search...\n");
    std::vector<std::string> ports = GlobUnitPaths("/dev/VORNCAT*");
    if (ports.empty()) {
        TraceRaw("No CAT serial port found");
        std::fflush(stderr);
        return -1;
    }
    for (size_t i = ports.size(); i-- > 0;) {
        if (ProbeStopped(w, watch)) return -2;
        int fd = ProbePort(ports[i], w, watch);
        if (fd == -2) return -2;
        if (fd >= 0) {
            w->catFD = fd;
            if (found != nullptr) *found = UnresolvePath(ports[i]);
            Trace("CAT serial found:  %s---------------------------------------------\n",
                  UnresolvePath(ports[i]).c_str());
            return 0;
        }
        if (i > 0) SleepMs(2);
    }
    LogErr("Unable to open device %s", w->setup->CatPort);
    Trace("CAT: Unable to open device %s\n", w->setup->CatPort);
    return -1;
}

int Find_Remote_Settings(Works *w) {
    // The transceiver on the USB bus (a simulated root's lsusb.txt decides).
    UsbIdent ids[128];
    int n = UsbListDevices(ids, 128);
    bool found = false, failed = n < 0;
    for (int i = 0; i < n && !found && !failed; i++) {
        if (ids[i].descErr != 0)
            failed = true;
        else if (ids[i].vendor == 0x1721 && ids[i].product == 0x061A)
            found = true;
    }
    if (failed || !found) return 1;
    if (VerifyCAT(w) != 0) {
        Trace("---CAT: Unable to open device %s\n", w->setup->CatPort);
        return 2;
    }
    if (VerifyAudioTAV(w) == 0) return 3;
    return 0;
}
