#include "ui/mode.h"

#include "model/cmd_queue.h"
#include "model/hooks.h"
#include "model/works.h"
#include "model/errors.h"

namespace {

// The TAV serial link off: its time-out warning goes with it.
void TavOff(SetupRecord *s, Works *w) {
    if (s->EnableSerial == '1') {
        s->EnableSerial = '0';
        DeleteErrore(w, kErrTavExtIo);
    }
}

} // namespace

void ApplyModeWork(Works *w, bool startThreads) {
    SetupRecord *s = w->setup;
    const int mode = w->ModeWorkIdx.load();
    switch (mode) {
    case 1: // TAV transceiver
        if (s->EnableSerial == '0') {
            s->EnableSerial = '1';
            if (startThreads) CallHook(hooks.StartThreadTAV, w);
        }
        if (s->EnableCatSerial == '1') s->EnableCatSerial = '0';
        break;
    case 2: // FT-817
        if (s->EnableCatSerial == '0') {
            s->EnableCatSerial = '1';
            if (startThreads) CallHook(hooks.StartThreadCATserial, w);
        }
        TavOff(s, w);
        break;
    default: // generic (the power board measures the frequency), a rig daemon, the logger
        TavOff(s, w);
        if (s->EnableCatSerial == '1') s->EnableCatSerial = '0';
        break;
    }
    // The rig daemon's client runs in mode 3 only; its thread removes its
    // warning when it ends.
    if (mode == 3) {
        if (w->rigctlOn.load() != '1') {
            w->rigctlOn = '1';
            if (startThreads) CallHook(hooks.StartThreadRigctl, w);
        }
    } else if (w->rigctlOn.load() == '1') {
        w->rigctlOn = '0';
    }
    // The same for the logger's listener in mode 4.
    if (mode == 4) {
        if (w->loggerOn.load() != '1') {
            w->loggerOn = '1';
            if (startThreads) CallHook(hooks.StartThreadLogger, w);
        }
    } else if (w->loggerOn.load() == '1') {
        w->loggerOn = '0';
    }
    IncPNTIn_CMDLinear(kCmdWriteSettings, w);
}

void SetModeWorkIDX(Works *w) {
    // Until start-up starts the links from their switches, starting them here
    // would start them twice.
    ApplyModeWork(w, linksStarting.load());
}
