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

namespace {

// What the defaults step of the setup would otherwise reset although it is no
// setting: the state of the running unit (the run flag, links, board identity, the open
// remote socket, the error-list hold of start-up, the audio frame the audio
// threads size their buffers by).
struct RunState {
    int32_t running;
    uint8_t bypass;
    int32_t wsSocket;
    int32_t viewType;
    int32_t timerUsec;
    int32_t freq, freqPrev;
    int32_t spanHz;
    int32_t tsThreshold[4];
    uint8_t tinyCmdOut;
    int32_t tuneBand;
    uint8_t errSuspend;
    int32_t memCol;
    uint8_t boardOpt;
    char powerClass;
    int32_t audioFrame, audioFormat, audioRate;
    int32_t fanPercent;
    char enableSerial, enableCatSerial, enableSpectrum;
};

RunState SaveRunState(Works *w) {
    RunState s;
    s.running = w->running;
    s.bypass = w->bypass;
    s.wsSocket = w->wsSocket;
    s.viewType = w->viewType;
    s.timerUsec = w->timerUsec;
    s.freq = w->freq;
    s.freqPrev = w->freqPrev;
    s.spanHz = w->spanHz;
    for (int i = 0; i < 4; i++)
        s.tsThreshold[i] = w->tsThreshold[i];
    s.tinyCmdOut = w->tinyCmdOut;
    s.tuneBand = w->tuneBand;
    s.errSuspend = w->errSuspend;
    s.memCol = w->memCol;
    s.boardOpt = w->boardOpt;
    s.powerClass = w->powerClass;
    s.audioFrame = w->audioFrame;
    s.audioFormat = w->audioFormat;
    s.audioRate = w->audioRate;
    s.fanPercent = w->fanPercent;
    s.enableSerial = w->setup->EnableSerial;
    s.enableCatSerial = w->setup->EnableCatSerial;
    s.enableSpectrum = w->setup->EnableSpectrum;
    return s;
}

void RestoreRunState(Works *w, const RunState &s) {
    w->running = s.running;
    w->bypass = s.bypass;
    w->wsSocket = s.wsSocket;
    w->viewType = s.viewType;
    w->timerUsec = s.timerUsec;
    w->freq = s.freq;
    w->freqPrev = s.freqPrev;
    w->spanHz = s.spanHz;
    for (int i = 0; i < 4; i++)
        w->tsThreshold[i] = s.tsThreshold[i];
    w->tinyCmdOut = s.tinyCmdOut;
    w->tuneBand = s.tuneBand;
    w->errSuspend = s.errSuspend;
    w->memCol = s.memCol;
    w->boardOpt = s.boardOpt;
    w->powerClass = s.powerClass;
    w->audioFrame = s.audioFrame;
    w->audioFormat = s.audioFormat;
    w->audioRate = s.audioRate;
    w->fanPercent = s.fanPercent;
    w->setup->EnableSerial = s.enableSerial;
    w->setup->EnableCatSerial = s.enableCatSerial;
    w->setup->EnableSpectrum = s.enableSpectrum;
}

} // namespace

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
        w->screenFlags.fetch_or(4);
        ShowBackground(w, "statusB");
    } else {
        w->screenFlags.fetch_and(~4);
        SetWorkImg(w);
    }
}

void FactoryReset(Works *w) {
    RunState keep = SaveRunState(w);
    // One write window for all the deletions and the new setup file.
    bool window = RemountRw() == 0;
    RestoreFactorySetup(w);
    if (window) RemountRo();
    w->factoryDefault = 0;
    RestoreRunState(w, keep);
    // The working tables still hold the deleted bank's rows and tunes: reload
    // the current bank from disk so a later save cannot write them back.
    LoadAllBankTable(w, w->numBanco.load());
    w->bandRow = -1;
    LogInfo("factory defaults restored");
}

int RunUiUpdate() {
    return RunShell(ResolveCommand("/opt/Helix/getpack.sh"));
}
