#include "transceiver/cat.h"

#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial.h"
#include "platform/serial_cat.h"
#include "platform/wait.h"
#include "remote/frames.h"
#include "transceiver/cat_serial.h"
#include "model/errors.h"

#include <cerrno>
#include <cstring>
#include <string>

std::atomic<int> status_cat{0};

int CatCollect(CatCollector *c, uint8_t byte) {
    c->buf[c->pos] = byte;
    if (byte == ';') {
        int len = c->pos + 1;
        c->buf[len] = '\0';
        c->pos = 0;
        return len;
    }
    if (++c->pos >= kCatMsgSize) c->pos = 0; // no ';' in 200 bytes: start again
    return 0;
}

int CatStep(Works *w, CatCollector *c, int fd) {
    int n = SerialBytesWaiting(fd);
    if (n < 0) return -1;
    if (n == 0) return 1; // paced poll: nothing waits
    for (int i = 0; i < n; i++) {
        uint8_t b;
        if (SerialRead(fd, &b, 1) != 1) return -1;
        int len = CatCollect(c, b);
        if (len > 0) {
            sendWebSockCatFrame(w, c->buf, len);
            std::memset(c->buf, 0, sizeof c->buf);
        }
        if (w->setup->EnableCAT != '1') break;
    }
    return 0;
}

void ExitCAT(Works *w) {
    if (status_cat.exchange(0) == 1) {
        int fd = w->catFD.exchange(-1);
        SerialClose(fd);
    }
    // No port: -1, so nothing writes CAT traffic to descriptor 0.
    w->catFD = -1;
    w->remoteFault = 1;
    w->setup->EnableCAT = '0';
    AddErrore(w, kErrRemoteCat);
}

void *Cat(void *arg) {
    Works *w = static_cast<Works *>(arg);
    status_cat = 0;
    SetupSwitch &on = w->setup->EnableCAT;
    uint64_t start = NowMs();
    while (!expired(start, NowMs(), 3000) && w->running != 0 && on == '1')
        SleepMs(10);
    // A run or remote operation that ended during the wait does not start a
    // probe that can take seconds per port; the probe itself stops as soon as
    // either ends.
    if (w->running == 0 || on != '1') {
        ExitCAT(w);
        return nullptr;
    }
    std::string path;
    int found = VerifyCAT(w, &on, &path);
    if (found != 0) {
        if (found != -2) {
            LogErr("Unable to open device %s", w->setup->CatPort);
            Trace("CAT: Unable to open device %s\n", w->setup->CatPort);
        }
        ExitCAT(w);
        return nullptr;
    }
    LogInfo("OK works->catFD=%d (%s)", w->catFD.load(), w->setup->CatPort);
    status_cat = 1;
    CatCollector collector;
    SerialReopener port;
    while (w->setup->EnableCAT == '1' && w->running != 0) {
        uint64_t now = NowMs();
        int fd = SerialTryReopen(&port, path.c_str(), CatProbeSetup, now);
        if (fd >= 0) {
            w->catFD = fd;
            LogInfo("Cat: port %s open again", path.c_str());
        }
        if (port.down) {
            SleepMs(10);
            continue;
        }
        int ms = CatStep(w, &collector, w->catFD);
        if (ms < 0) {
            // A port that hung up (the radio switched off) is reopened by the
            // path the probe found; any other failure ends the pass-through.
            if (!SerialGone(errno)) break;
            if (SerialMarkDown(&port, w->catFD.exchange(-1), now))
                LogErr("Cat: port %s hung up, reopening it", path.c_str());
            continue;
        }
        if (ms == 1 && !PacingBySleep())
            WaitPortOrWake(w->catFD.load(), -1, 100); // until an answer comes
        else if (ms > 0)
            SleepMs(static_cast<uint32_t>(ms));
    }
    ExitCAT(w);
    return nullptr;
}
