#include "amplifier/linear.h"

#include "model/cmd_queue.h"
#include "amplifier/commands.h"
#include "amplifier/decode.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial.h"
#include "platform/serial_linear.h"
#include "platform/wait.h"
#include "model/errors.h"
#include "model/heartbeat.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

uint8_t Sys_Crc8Calculation(const char *text, size_t length) {
    uint8_t crc = 0;
    for (size_t i = 0; i < length; i++) {
        uint8_t byte = static_cast<uint8_t>(text[i]);
        for (int b = 0; b < 8; b++) {
            if ((byte ^ crc) & 1)
                crc = static_cast<uint8_t>((crc >> 1) ^ 0x8C);
            else
                crc = static_cast<uint8_t>(crc >> 1);
            byte = static_cast<uint8_t>(byte >> 1);
        }
    }
    return crc;
}

int OpenLinear(Works *w) {
    char path[sizeof w->setup->LinPort + 1];
    std::snprintf(path, sizeof path, "%s", w->setup->LinPort);
    LogInfo("Init Linear Port %s", path);
    int fd = SerialOpen(path);
    w->linFD = fd;
    char text[sizeof w->portErrorText];
    if (fd < 0) {
        LogErrTrace("Unable to open device %s", path);
        std::snprintf(text, sizeof text, "Linear: Unable to open device %s", path);
        ReportPortError(w, kPortLinear, text);
        return -1;
    }
    if (SerialSetupLinear(fd) != 0) {
        LogErrTrace("Unable to set comm port %s", path);
        std::snprintf(text, sizeof text, "Linear: Unable to set comm port %s", path);
        ReportPortError(w, kPortLinear, text);
        return -1;
    }
    Trace("OK works->linFD=%d (%s) stato:%d\n", fd, path, w->linearProcessStatus.load());
    LogInfo("OK works->linFD=%d (%s)", fd, path);
    return 0;
}

int writeLinearPort(int fd, const char *text, size_t length, Works *w) {
    w->counterrortimeout = 0;
    // A port that is down: the command is lost on the wire, as to a silent board.
    if (fd < 0) return -1;
    char frame[128];
    if (length + 3 > sizeof frame) return -1;
    std::snprintf(frame, sizeof frame, "%02x", Sys_Crc8Calculation(text, length));
    std::memcpy(frame + 2, text, length);
    size_t total = length + 2, done = 0;
    int rc = 0;
    // Partial writes are repeated until the frame is out; a port that refuses
    // the write for good (closed, hung up) gives up so the loop keeps running
    // and the missing reply is handled as a silent board.
    while (done < total) {
        long n = SerialWrite(fd, frame + done, total - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            if (w->running.load() == 0) break;
            SleepMs(1);
            continue;
        }
        // A hung-up port is reported once by the link (PortGone).
        if (!SerialGone(errno)) LogErr("Linear: write error %d", errno);
        rc = -1;
        break;
    }
    return rc;
}

void LastCmdSent(Works *w, char letter1, char letter2, int code) {
    w->lastCmd[0] = letter1;
    w->lastCmd[1] = letter2;
    w->lastCmdCode = code;
}

bool TakeNextCmd(Works *w, int *code) {
    int c;
    while (CmdQueueTake(w, &c)) {
        // A code that names no command would be taken for a link state
        // (2 = waiting, 31 = parked) and stall the link.
        if (IsLinearCmd(c)) {
            *code = c;
            return true;
        }
        Trace("Linear: queued code %d is not a command, dropped\n", c);
        LogErr("Linear: queued code %d is not a command, dropped", c);
    }
    return false;
}

bool NextCmdPriority(Works *w, int dflt) {
    w->retryCount = 0;
    int code;
    if (w->cmdQueueDrain.load() == 1 && TakeNextCmd(w, &code)) {
        w->linearProcessStatus = code;
        Trace("cmd ext: %d\n", code);
        return true;
    }
    w->cmdQueueDrain = 0;
    w->linearProcessStatus = dflt;
    if (w->errResend.load() == 1) {
        Trace(">>> ERRORI: Send All CMD for Error\n");
        w->errResend = 2;
    }
    return false;
}

void GestRetrayCMD(Works *w) {
    w->retryTotal.fetch_add(1);
    int count = w->retryCount.load();
    if (count >= 0 && count <= 2) {
        w->retryCount = count + 1;
        w->linearProcessStatus = w->lastCmdCode.load();
        Trace("--------------------------------------- ERROR LINEAR: RETRAY %c%c (%d , %d)\n",
              w->lastCmd[0], w->lastCmd[1], w->retryTotal.load(), w->retryCount.load());
        return;
    }
    char detail[sizeof w->errDetail];
    std::snprintf(detail, sizeof detail, "Err %c%c", w->lastCmd[0], w->lastCmd[1]);
    SetErrDetail(w, kErrBoardComm, detail);
    if (w->errHoldOff.load() == 0) {
        AddErrore(w, kErrBoardComm);
        w->errHoldOff = 2000;
    }
    Trace("---------------------------------------STOP RETRAY!! %c%c (%d, %d) Restart da ST "
          "(Timer: %i)\n",
          w->lastCmd[0], w->lastCmd[1], w->retryTotal.load(), w->retryCount.load(),
          w->errHoldOff.load());
    w->retryStops.fetch_add(1);
    w->linearProcessStatus = kLinStatus;
    w->retryCount = 0;
}

// A complete frame is in the buffer: report a CRC that does not match.
static bool CheckReplyCrc(LinearLink *l) {
    char mine[3];
    const char *body = l->rx + 2;
    size_t len = l->rxIdx > 2 ? static_cast<size_t>(l->rxIdx - 2) : 0;
    std::snprintf(mine, sizeof mine, "%02x", Sys_Crc8Calculation(body, len));
    bool ok = l->rxIdx >= 2 && std::toupper(static_cast<unsigned char>(mine[0])) == l->rx[0] &&
              std::toupper(static_cast<unsigned char>(mine[1])) == l->rx[1];
    if (!ok) Trace("**** CHK ERROR!! %s %s\n", mine, l->rx);
    return ok;
}

// Bytes waiting before a send belong to an exchange that already failed.
// Returns -1 when the port turned out to have hung up.
static int DiscardStaleInput(int fd, LinearLink *l) {
    char buf[64];
    int waiting;
    while ((waiting = SerialBytesWaiting(fd)) > 0) {
        long n = SerialRead(fd, buf, std::min<size_t>(sizeof buf, static_cast<size_t>(waiting)));
        if (n <= 0) break;
    }
    l->rxIdx = 0;
    l->inLen = l->inPos = 0;
    return waiting < 0 && SerialGone(errno) ? -1 : 0;
}

// The port hung up or went away: close it; the link runs on as with a silent
// board (same time-outs, retries and kErrBoardComm) while LinearReopen tries its
// path again once a second.
static void PortGone(Works *w, LinearLink *l, uint64_t now) {
    if (!SerialMarkDown(&l->port, w->linFD.exchange(-1), now)) return;
    LogErr("Linear: port %s hung up, reopening it", w->setup->LinPort);
    Trace("Linear: port %s hung up, reopening it\n", w->setup->LinPort);
}

// Once the port opens again the board gets its start-up set, back to back, as
// after a micro reset.
static void LinearReopen(Works *w, LinearLink *l, uint64_t now) {
    int fd = SerialTryReopen(&l->port, w->setup->LinPort, SerialSetupLinear, now);
    if (fd < 0) return;
    w->linFD = fd;
    LogInfo("Linear: port %s open again", w->setup->LinPort);
    Trace("Linear: port %s open again\n", w->setup->LinPort);
    InitMicroCmdAfterReset(w);
    // The board restarts bypassed and without its attenuator: it gets the
    // state the screen shows again, as after an acknowledged micro reset.
    IncPNTIn_CMDLinear(w->bypass.load() == 1 ? kCmdAmpBypass : kCmdAmpInLine, w);
    IncPNTIn_CMDLinear(kCmdAttenuator, w);
    w->cmdQueueDrain = 1;
    // A command that went out while the port was gone was never heard: it goes
    // again now instead of after its reply time-out (up to 1.5 s).
    if (w->linearProcessStatus.load() == kLinWait) w->linearProcessStatus = w->lastCmdCode.load();
    l->rxIdx = 0;
    l->inLen = l->inPos = 0;
}

// Waiting for the reply: takes the bytes that came, one at a time, until its
// ';', or handles the time-out. Returns the pause before the next pass.
static int ReceiveStep(Works *w, LinearLink *l, int fd, uint64_t now) {
    if (l->inPos == l->inLen) {
        int waiting = l->port.down ? 0 : SerialBytesWaiting(fd);
        if (waiting < 0 && SerialGone(errno)) {
            PortGone(w, l, now);
            waiting = 0;
        }
        if (waiting == 0) {
            w->counterrortimeout.fetch_add(1);
            if (expired(l->sentAt, now, kLinReplyTimeoutMs)) {
                GestRetrayCMD(w);
                // What came of the failed reply must not prefix the next one.
                l->rxIdx = 0;
            }
            return 1;
        }
        long r = waiting > 0
                     ? SerialRead(fd, l->in,
                                  std::min<size_t>(sizeof l->in, static_cast<size_t>(waiting)))
                     : -1;
        if (r <= 0) {
            LogErr("timeout %d", static_cast<int>(r));
            GestRetrayCMD(w);
            return 20;
        }
        l->inLen = static_cast<int>(r);
        l->inPos = 0;
    }
    char c = l->in[l->inPos++];
    if (l->rxIdx > kLinRxSize - 5) {
        l->rxIdx = 0;
        Trace("<<<<<<<<<<<<<<<<<<<<ERROR COUNTER LINEAR (CounterLinear)\n");
    }
    l->rx[l->rxIdx++] = c;
    if (c == ';') {
        l->rx[l->rxIdx] = '\0';
        bool ok = CheckReplyCrc(l);
        if (!ok && l->rxIdx >= 5) {
            // A reply that fails its CRC is a failed exchange: decoding it
            // would read its fixed positions from whatever it is made of
            // (a cut reply with the next one behind it gives phantom trips).
            l->rxIdx = 0;
            GestRetrayCMD(w);
            return 20;
        }
        w->linearProcessStatus = kLinDecode;
    }
    return 0;
}

// State `st` names a command: send it (or the next of a batch).
static int SendStep(Works *w, LinearLink *l, int st, int fd, uint64_t now) {
    if (!IsLinearCmd(st)) {
        Trace("Linear: state %d is not a command, back to status\n", st);
        NextCmdPriority(w, kLinStatus);
        return 0;
    }
    // A batch (a band change's commands) goes out back to back: a poll
    // that was due waits until the batch is out.
    if ((st == kLinStatus || st == kLinFreqPoll) && w->cmdQueueDrain.load() == 1 &&
        !PacingBySleep()) {
        int code;
        if (TakeNextCmd(w, &code)) {
            st = code;
            w->linearProcessStatus = code;
        } else {
            w->cmdQueueDrain = 0;
        }
    }
    // One exchange at a time: bytes waiting before the command goes out
    // belong to an exchange that already failed.
    if (!l->port.down && DiscardStaleInput(fd, l) != 0) PortGone(w, l, now);
    LinearSendCommand(w, st);
    if (w->linearProcessStatus.load() == kLinWait) l->sentAt = now;
    return 0;
}

int LinearStep(Works *w, LinearLink *l, uint64_t now) {
    LinearReopen(w, l, now);
    int st = w->linearProcessStatus.load();
    int fd = w->linFD.load();
    switch (st) {
    case kLinWait:
        return ReceiveStep(w, l, fd, now);
    case kLinDecode: {
        int len = l->rxIdx - 2;
        int pause = len >= 0 ? DecodeCatCmd(w, l->rx + 2, len) : -1;
        l->rxIdx = 0;
        if (pause < 0) {
            // A stray fragment, not a reply: keep waiting for the real one;
            // the time-out still runs from the send.
            w->linearProcessStatus = kLinWait;
            return 0;
        }
        return pause;
    }
    case kLinParked:
        return 1000;
    default:
        return SendStep(w, l, st, fd, now);
    }
}

void LinearWait(Works *w, LinearLink *l, int ms, uint64_t now) {
    if (PacingBySleep()) {
        SleepMs(static_cast<uint32_t>(ms));
        return;
    }
    if (w->linearProcessStatus.load() == kLinWait && ms == 1) {
        // Waiting for the reply: until its bytes come or its time-out (while
        // the port is down, until the next reopen attempt).
        uint64_t until = l->sentAt + kLinReplyTimeoutMs;
        if (l->port.down && l->port.nextTry < until) until = l->port.nextTry;
        int left = until > now ? static_cast<int>(until - now) : 1;
        WaitPortOrWake(l->port.down ? -1 : w->linFD.load(), -1, left);
        return;
    }
    // A pause between exchanges; a batch queued meanwhile ends it (a wake-up
    // for a code queued without a batch leaves the pause as it was).
    uint64_t until = now + static_cast<uint64_t>(ms);
    for (;;) {
        if (w->cmdQueueDrain.load() == 1 && !CmdQueueEmpty(w)) return;
        uint64_t t = NowMs();
        if (t >= until) return;
        if (WaitPortOrWake(-1, w->linWake, static_cast<int>(until - t)) == kWaitTimeout) return;
    }
}

void *Linear(void *arg) {
    Works *w = static_cast<Works *>(arg);
    if (!PacingBySleep()) RelaxTimers(1000);
    w->linearProcessStatus = kLinStatus;
    BeatBegin(w, kBeatLink);
    if (OpenLinear(w) != 0) {
        // Nothing to talk to: the fault is on the screen through portError.
        // Wait without touching the port until asked to stop, or until the
        // operator dismisses the failure (Retry or Cancel): the body then
        // returns so that the restart those keys ask for opens the port again.
        while (w->running.load() != 0 && w->setup->EnableLinear.load() == '1' &&
               w->linkFailed[kPortLinear].load() != 0) {
            Beat(w, kBeatLink);
            SleepMs(50);
        }
        SerialClose(w->linFD.exchange(-1));
        BeatEnd(w, kBeatLink);
        return nullptr;
    }
    LinearLink link;
    while (w->running.load() != 0) {
        Beat(w, kBeatLink);
        uint64_t now = NowMs();
        int pause = LinearStep(w, &link, now);
        if (pause > 0) LinearWait(w, &link, pause, now);
    }
    SerialClose(w->linFD.exchange(-1));
    BeatEnd(w, kBeatLink);
    return nullptr;
}
