// The actions of the parameter pages that do more than change a value: remote
// operation on and off, the filter page, the factory reset and the update and
// service scripts.
#include "ui/param_edit.h"

#include "config/antenna_banks.h"
#include "config/setup.h"
#include "model/errors.h"
#include "model/hooks.h"
#include "model/works.h"
#include "display/fb.h"
#include "ui/keyb.h"
#include "display/png.h"
#include "model/screen.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "transceiver/cat_serial.h"
#include "ui/status.h"
#include "ui/view.h"

#include <cstdio>

void RemoteSwitch(Works *w) {
    if (w->remoteOn.load() == 1) {
        w->remoteOn = 0;
        return;
    }
    if (w->setup->EnableFFT.load() != '0') {
        w->remoteOn = 1;
        return;
    }
    int i = Find_Remote_Settings(w);
    int j = Get_AudioTAV(w);
    char serial = w->setup->EnableSerial.load();
    Trace("j=%d i=%d enaser=%c\n", j, i, serial);
    if (i == 0 && serial == '1' && j != 0) {
        w->remoteOn = 1;
        w->remoteFault = 0;
        Trace("Remote GO!\n");
        return;
    }
    w->remoteFault = 1;
    if (i == 1) AddErrore(w, kErrRemoteUsb);
    if (i == 2) AddErrore(w, kErrRemoteCat);
    if (i == 3) AddErrore(w, kErrAudioRead);
    if (j == 0) AddErrore(w, kErrAudioNotFound);
    if (serial != '1') AddErrore(w, kErrTavNotSelected);
    Trace("Remote ERROR!\n");
}

void RemoteConfirm(Works *w) {
    if (w->remoteOn.load() != 1) {
        CallHook(hooks.ExitThreadRemote, w);
        return;
    }
    if (w->setup->WebSocket.load() == '0') {
        w->setup->WebSocket = '1';
        CallHook(hooks.StartThreadSoket, w);
    }
    CallHook(hooks.StartThreadCommRemote, w);
}

void FilterPage(Works *w) {
    if (w->filterView.load() != 0) {
        w->screenFlags.fetch_or(kScreenFilter);
        ShowBackground(w, "statusB");
    } else {
        w->screenFlags.fetch_and(~kScreenFilter);
        SetWorkImg(w);
    }
}

void FactoryReset(Works *w) {
    // One write window for all the deletions and the new setup file.
    bool window = RemountRw() == 0;
    RestoreFactorySetup(w);
    if (window) RemountRo();
    w->factoryDefault = 0;
    // The working tables still hold the deleted bank's rows and tunes: reload
    // the current bank from disk so a later save cannot write them back.
    LoadAllBankTable(w, w->numBanco.load());
    w->bandRow = -1;
    LogInfo("factory defaults restored");
}

int RunUiUpdate() {
    return RunShell(ResolveCommand("/opt/Helix/getpack.sh"));
}
