#include "amplifier/cmd_queue.h"

#include "core/works.h"
#include "platform/log.h"
#include "supervisor/thresholds.h"

#include <mutex>

static int Pending(int in, int out) {
    return (in - out + kCmdQueueSlots) % kCmdQueueSlots;
}

int IncPNTIn_CMDLinear(int code, Works *w) {
    std::lock_guard<std::mutex> lock(w->cmdQueueLock);
    int in = w->cmdQueueIn.load();
    if (Pending(in, w->cmdQueueOut.load()) >= kCmdQueueSlots - 1) {
        Trace("cmd queue full: code %d refused\n", code);
        LogErr("cmd queue full: code %d refused", code);
        return -1;
    }
    w->cmdQueue[in] = code;
    // Publish the slot before the index moves, so the reader never sees a stale code.
    w->cmdQueueIn.store((in + 1) % kCmdQueueSlots, std::memory_order_release);
    return 0;
}

bool CmdQueueEmpty(Works *w) {
    return w->cmdQueueIn.load(std::memory_order_acquire) == w->cmdQueueOut.load();
}

int CmdQueuePending(Works *w) {
    return Pending(w->cmdQueueIn.load(std::memory_order_acquire), w->cmdQueueOut.load());
}

bool CmdQueueTake(Works *w, int *code) {
    int out = w->cmdQueueOut.load();
    if (w->cmdQueueIn.load(std::memory_order_acquire) == out) return false;
    *code = w->cmdQueue[out].load();
    w->cmdQueue[out] = 0;
    w->cmdQueueOut.store((out + 1) % kCmdQueueSlots);
    return true;
}

void InitMicroCmd(Works *w) {
    Trace("Init CRT ... \n");
    for (int code : {0, 36, 37, 38, 17})
        IncPNTIn_CMDLinear(code, w);
    SearchCambioSoglie_TS(w);
    for (int code : {21, 7, 12, 11, 24, 33, 34, 13, 32})
        IncPNTIn_CMDLinear(code, w);
}
