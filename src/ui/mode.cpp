#include "ui/mode.h"

#include "model/cmd_queue.h"
#include "model/hooks.h"
#include "model/works.h"
#include "model/errors.h"

void ApplyModeWork(Works *w, bool startThreads) {
    SetupRecord *s = w->setup;
    switch (w->ModeWorkIdx.load()) {
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
        if (s->EnableSerial == '1') {
            s->EnableSerial = '0';
            DeleteErrore(w, 8);
        }
        break;
    default: // generic: the power board measures the frequency
        if (s->EnableSerial == '1') {
            s->EnableSerial = '0';
            DeleteErrore(w, 8);
        }
        if (s->EnableCatSerial == '1') s->EnableCatSerial = '0';
        break;
    }
    IncPNTIn_CMDLinear(35, w);
}

void SetModeWorkIDX(Works *w) {
    // Until start-up starts the links from their switches, starting them here
    // would start them twice.
    ApplyModeWork(w, linksStarting.load());
}
