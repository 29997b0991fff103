// Menu 0, the main screen: bank and memory table, attenuator and standby,
// antenna, the tune and parameter menus, the view and the status page.
#include "config/antenna_banks.h"
#include "model/errors.h"
#include "model/hooks.h"
#include "model/works.h"
#include "display/fb.h"
#include "display/png.h"
#include "model/screen.h"
#include "platform/log.h"
#include "ui/bank.h"
#include "ui/fault_page.h"
#include "ui/keys.h"
#include "ui/keys_menus.h"
#include "ui/status.h"
#include "ui/view.h"

#include <cstdio>

namespace {

void ShowPage(Works *w, const char *image) {
    ShowBackground(w, image);
}

// IN-ATT: 0, 2, 3, 5 dB and standby in turn; no standby while transmitting.
// Stepping while transmitting in standby is refused with kErrCmdNotAvailable, and then
// nothing changes and nothing is queued (the board must not be taken out of
// standby under transmission).
void AttenuatorStep(Works *w) {
    int shown = w->attenuatorShown.load() + 1;
    bool transmitting = (w->boardStatus[1].load() & 1) != 0;
    bool bypassed = w->bypass.load() == 1;
    if (!transmitting) {
        if (shown > 4) shown = 0;
    } else if (bypassed) {
        AddErrore(w, kErrCmdNotAvailable);
        return;
    } else if (shown > 3) {
        shown = 0;
    }
    w->attenuatorShown = static_cast<uint8_t>(shown);
    if (shown <= 3) {
        w->attenuator = static_cast<uint8_t>(shown);
        QueueCmd(w, kCmdAttenuator);
        if (bypassed) QueueCmd(w, kCmdAmpInLine);
    } else if (!bypassed) {
        QueueCmd(w, kCmdAmpBypass);
    }
    SaveToBank(w, w->numBanco.load(), w->antenna.load());
}

} // namespace

int AmplifierStandby(Works *w, int standby) {
    bool transmitting = (w->boardStatus[1].load() & 1) != 0;
    bool bypassed = w->bypass.load() == 1;
    bool inStandby = w->attenuatorShown.load() > 3;
    if (standby != 0) {
        if (inStandby) return 0;
        if (transmitting) return -1;
        w->attenuatorShown = 4;
        if (!bypassed) QueueCmd(w, kCmdAmpBypass);
    } else {
        if (!inStandby && !bypassed) return 0;
        if (transmitting && bypassed) return -1;
        uint8_t att = w->attenuator.load();
        w->attenuatorShown = att <= 3 ? att : 0;
        w->attenuator = w->attenuatorShown.load();
        QueueCmd(w, kCmdAttenuator);
        if (bypassed) QueueCmd(w, kCmdAmpInLine);
    }
    SaveToBank(w, w->numBanco.load(), w->antenna.load());
    return 0;
}

namespace {

void AntennaStep(Works *w) {
    // A running tune keeps the antenna it tunes.
    if (w->tuneState.load() != 0) {
        ShowNotice(w, kNoticeAntennaKept);
        return;
    }
    w->antenna = StepWrap(w->antenna.load(), 3);
    QueueCmd(w, kCmdAntenna);
    // The new antenna's stored tune (or the cleared word) goes with it,
    // unless the tuner is switched through.
    if (w->tunerThrough.load() == 0) CallHook(hooks.GestioneLoadTuneVal, w, 1);
    SaveToBank(w, w->numBanco.load(), w->antenna.load());
}

void ViewStep(Works *w) {
    int view = w->viewType.load() + 1;
    if (view > 5 || view < 1) view = 1;
    w->viewType = view;
    w->screenFlags = 0;
    w->peak[1].angle = 0.0f;
    SetWorkImg(w);
    LogInfo("type to %d", view);
}

// MEM: short steps the bank, long opens the memory table of the bank (menu 6);
// either closes the memory table when it is shown.
void MemKey(Works *w, bool isLong) {
    if ((w->screenFlags.load() & kScreenMemory) != 0) {
        w->screenFlags.fetch_and(~kScreenMemory);
        SetWorkImg(w);
        return;
    }
    if (!isLong) {
        BankKey(w);
        return;
    }
    w->screenFlags.fetch_or(kScreenMemory);
    ShowPage(w, "statusB");
    InterfaceLabel(w);
    w->menuIdx = 6;
}

} // namespace

int KeysMain(Works *w, int key, bool isLong) {
    // A long VIEW opens the status page; any other key first closes it.
    if (key == 6 && isLong) {
        w->screenFlags.fetch_or(kScreenStatus);
        ShowPage(w, "status");
        return 0;
    }
    if (key == 2 && isLong) return 0;
    // On the status page key 2 opens the fault history; any other key closes it.
    if (key == 2 && (w->screenFlags.load() & kScreenStatus) != 0) {
        OpenFaultHistory(w);
        return 0;
    }
    if (EscFromStatus(w) == 1) return 0;
    switch (key) {
    case 1:
        MemKey(w, isLong);
        break;
    case 2:
        AttenuatorStep(w);
        break;
    case 3:
        AntennaStep(w);
        break;
    case 4:
        w->menuIdx = 3;
        break;
    case 5:
        w->menuIdx = 1;
        break;
    case 6:
        ViewStep(w);
        break;
    default:
        break;
    }
    return 0;
}
