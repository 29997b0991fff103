#include "model/cmd_queue.h"

#include "model/board_cmds.h"
#include "model/hooks.h"
#include "model/works.h"
#include "platform/log.h"
#include "platform/wait.h"

#include <mutex>

namespace {

// A cancelled ring slot: superseded by a later code for the same setting.
constexpr int32_t kCancelled = -1;

int Pending(int in, int out) {
    return (in - out + kCmdQueueSlots) % kCmdQueueSlots;
}

// The last code waiting for `target`, in the order the link will send them
// (pending set first, then the ring); -2 when none. Caller holds the lock.
int LastWaitingFor(Works *w, int target) {
    int last = -2;
    int n = w->cmdPendingCount.load();
    for (int i = 0; i < n; i++)
        if (CmdTarget(w->cmdPending[i].load()) == target) last = w->cmdPending[i].load();
    int out = w->cmdQueueOut.load(), in = w->cmdQueueIn.load();
    for (int i = out; i != in; i = (i + 1) % kCmdQueueSlots) {
        int c = w->cmdQueue[i].load();
        if (c != kCancelled && CmdTarget(c) == target) last = c;
    }
    return last;
}

// Puts `code` into the pending set. Older codes for the same setting, in the
// set or in the ring, are superseded: the pending set goes out first, so a
// ring entry left in place would undo the newer wish. Caller holds the lock.
void AddPending(Works *w, int code) {
    int target = CmdTarget(code);
    int n = w->cmdPendingCount.load(), k = 0;
    for (int i = 0; i < n; i++) {
        int c = w->cmdPending[i].load();
        if (CmdTarget(c) != target) w->cmdPending[k++] = c;
    }
    int out = w->cmdQueueOut.load(), in = w->cmdQueueIn.load();
    for (int i = out; i != in; i = (i + 1) % kCmdQueueSlots)
        if (w->cmdQueue[i].load() != kCancelled && CmdTarget(w->cmdQueue[i].load()) == target)
            w->cmdQueue[i] = kCancelled;
    w->cmdPending[k++] = code; // one entry per setting: never more than kCmdPendingSlots
    w->cmdPendingCount = k;
}

} // namespace

bool IsLinearCmd(int code) {
    return FindBoardCmd(code) != nullptr;
}

int CmdTarget(int code) {
    const BoardCmdRow *row = FindBoardCmd(code);
    return row != nullptr ? row->setting : code;
}

int IncPNTIn_CMDLinear(int code, Works *w) {
    std::lock_guard<std::mutex> lock(w->cmdQueueLock);
    // The link formats a code from the current values when it sends it, so a
    // second copy behind one already waiting would only repeat it.
    if (LastWaitingFor(w, CmdTarget(code)) == code) return 0;
    int in = w->cmdQueueIn.load();
    if (Pending(in, w->cmdQueueOut.load()) >= kCmdQueueSlots - 1) {
        if (code < 0 || code >= kCmdPendingSlots || !IsLinearCmd(code)) {
            Trace("cmd queue full: code %d refused\n", code);
            LogErr("cmd queue full: code %d refused", code);
            return -1;
        }
        AddPending(w, code);
        Trace("cmd queue full: code %d waits\n", code);
        return 0;
    }
    w->cmdQueue[in] = code;
    // Publish the slot before the index moves, so the reader never sees a stale code.
    w->cmdQueueIn.store((in + 1) % kCmdQueueSlots, std::memory_order_release);
    WakeSignal(w->linWake);
    return 0;
}

bool CmdQueueEmpty(Works *w) {
    return CmdQueuePending(w) == 0;
}

int CmdQueuePending(Works *w) {
    std::lock_guard<std::mutex> lock(w->cmdQueueLock);
    int n = w->cmdPendingCount.load();
    int out = w->cmdQueueOut.load(), in = w->cmdQueueIn.load();
    for (int i = out; i != in; i = (i + 1) % kCmdQueueSlots)
        if (w->cmdQueue[i].load() != kCancelled) n++;
    return n;
}

bool CmdQueueTake(Works *w, int *code) {
    std::lock_guard<std::mutex> lock(w->cmdQueueLock);
    int n = w->cmdPendingCount.load();
    if (n > 0) {
        *code = w->cmdPending[0].load();
        for (int i = 1; i < n; i++)
            w->cmdPending[i - 1] = w->cmdPending[i].load();
        w->cmdPendingCount = n - 1;
        return true;
    }
    for (;;) {
        int out = w->cmdQueueOut.load();
        if (w->cmdQueueIn.load() == out) return false;
        int c = w->cmdQueue[out].load();
        w->cmdQueue[out] = 0;
        w->cmdQueueOut.store((out + 1) % kCmdQueueSlots);
        if (c == kCancelled) continue;
        *code = c;
        return true;
    }
}

void InitMicroCmd(Works *w) {
    Trace("Init CRT ... \n");
    for (int code : {kCmdVersion, kCmdEeprom0, kCmdEeprom1, kCmdEeprom2, kCmdProtectionOff})
        IncPNTIn_CMDLinear(code, w);
    CallHook(hooks.SearchCambioSoglie_TS, w);
    for (int code : {kCmdInput, kCmdAntenna, kCmdFreqSense, kCmdTunerWord, kCmdPowerSettings,
                     kCmdGenericMode, kCmdReadSettings, kCmdResetTrips, kCmdMicroReady})
        IncPNTIn_CMDLinear(code, w);
}

void InitMicroCmdAfterReset(Works *w) {
    // The board came back on its own defaults: forget what was last sent so
    // the thresholds, the filter and the fan go out again.
    w->tuneBand = -1;
    w->filterBits = 0;  // no filter is ever mask 0
    w->fanPercent = -1; // the next status reply sends the fan speed
    InitMicroCmd(w);
    CallHook(hooks.SetFilterFromfreq, w);
    // The frequency, when it comes from a transceiver (generic mode measures it).
    if (w->ModeWorkIdx.load() != 0 && w->freq.load() != 0) IncPNTIn_CMDLinear(kCmdFreq, w);
}
