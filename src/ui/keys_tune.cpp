// Menus 3 (tune), 4 (manual tune) and 8 (store tune), and the TUNE key.
#include "amplifier/tune.h"
#include "model/tuner_word.h"
#include "config/antenna_banks.h"
#include "config/tuner_memory.h"
#include "model/hooks.h"
#include "model/works.h"
#include "platform/log.h"
#include "ui/keys.h"
#include "ui/keys_menus.h"
#include "ui/menu.h"
#include "ui/status.h"

#include <cstdio>

namespace {

constexpr int kStepMax = 511; // L and C steps of the tuner

bool TunerMissing(Works *w) {
    return (static_cast<uint8_t>(w->tuneEnabled.load()) & 0x80) != 0;
}

// One manual step of L (`setL`) or C, inside 0..511, sent under the tuner-word lock.
void ManualStep(Works *w, bool setL, int delta) {
    Shared<int32_t> &value = setL ? w->tuneL : w->tuneC;
    int next = value.load() + delta;
    if (next < 0 || next > kStepMax) return;
    WaitSemaforoTuneval(w);
    value = next;
    if (setL)
        SetI(w, next);
    else
        SetC(w, next);
    QueueCmd(w, kCmdTunerWord);
    StopSemaforoTuneval(w);
}

void StartStopTx(Works *w) {
    uint8_t t = w->txTest.load();
    if ((t & kTxTestOn) == 0) {
        if ((w->boardStatus[0].load() & 1) != 0) {
            int32_t old = w->antInput.exchange(0);
            if (QueueCmd(w, kCmdInput))
                t |= kTxTestInput0;
            else
                w->antInput = old;
        }
        t |= kTxTestSend | kTxTestOn;
        std::snprintf(KeyLabel(4, 6, 1), kLabelLen, "StopTX");
    } else {
        t |= kTxTestSend;
        t &= static_cast<uint8_t>(~(kTxTestOn | kTxTestInput0 | kTxTestInputOk));
        std::snprintf(KeyLabel(4, 6, 1), kLabelLen, "StartTX");
    }
    w->txTest = t;
}

// The next network arrangement by hand: CL, LC, bypass in turn.
void ModeStep(Works *w) {
    if (w->tuneState.load() != 0) return;
    WaitSemaforoTuneval(w);
    int mode = w->tuneMode.load();
    mode = (mode >= 3 || mode < 0) ? 1 : mode + 1;
    w->tuneMode = mode;
    SetMode(w, mode);
    QueueCmd(w, kCmdTunerWord);
    StopSemaforoTuneval(w);
}

} // namespace

void GoTune(Works *w) {
    if (TunerMissing(w)) return;
    if (w->tuneState.load() != 0) {
        // The operator's stop: the tune ends here, it does not start again.
        Trace("esc tune TUNEMENU\n");
        EscAutoTune(w, 0);
        return;
    }
    uint8_t opt = w->tuneOpt.load();
    Trace("c-START TUNE (%x)!!\n", opt);
    if ((opt & kTuneOptTav) == 0 || (opt & kTuneOptRxSent) != 0) return;
    StartAutotune(w);
    Trace("b-START TUNE!!\n");
    if (w->ModeWorkIdx.load() == 1) {
        w->tuneOpt.fetch_and(static_cast<uint8_t>(~kTuneOptTxSent));
        w->tuneOpt.fetch_or(kTuneOptKeyStart);
        Trace("a-START TUNE!!\n");
    }
}

int KeysTune(Works *w, int key, bool isLong) {
    w->keyFlags.fetch_and(static_cast<uint8_t>(~2u));
    switch (key) {
    case 1:
        if (w->tuneState.load() == 0) w->menuIdx = 0;
        break;
    case 4:
        Trace("xxxxx AUTO TUNE_ByPass %x\n", w->tunerThrough.load());
        if (w->tunerThrough.load() == 0)
            GoTune(w);
        else
            ShowNotice(w, kNoticeTunerThrough); // says why nothing starts
        break;
    case 5:
        Trace("xxxxx TUNE_ByPass %x\n", w->tunerThrough.load());
        // A running tune ends first (nothing stored), then the tuner switches.
        EscAutoTune(w, 0);
        if (w->tunerThrough.load() == 0) {
            w->tunerThrough = 1;
            QueueCmd(w, kCmdTunerThrough);
        } else {
            w->tunerThrough = 0;
            CallHook(hooks.GestioneLoadTuneVal, w, 1);
        }
        SaveToBank(w, w->numBanco.load(), w->antenna.load());
        break;
    case 6:
        if (isLong) {
            // Every setting of the power board once more; a standby
            // amplifier stays in standby.
            const BoardCmd bypass = w->bypass.load() == 1 ? kCmdAmpBypass : kCmdAmpInLine;
            for (int code : {kCmdProtectionOff, kCmdResetTrips, kCmdFreq, kCmdThresholds, bypass,
                             kCmdInput, kCmdAntenna, kCmdAttenuator})
                if (code != kCmdFreq || w->ModeWorkIdx.load() != 0) QueueCmd(w, code);
        } else if (w->manualTune.load() != 0) {
            w->manualTune = 0;
        } else {
            // The operator's hands and a search never share the tuner: a
            // running tune ends first (its word from before goes back,
            // nothing is stored) and the stepping starts from that word.
            EscAutoTune(w, 0);
            w->manualTune = 1;
            QueueCmd(w, kCmdTunerRead);
            w->menuIdx = 4;
            ImpostaLblManuale(w);
        }
        break;
    default:
        break;
    }
    return 0;
}

int KeysManualTune(Works *w, int key, bool isLong) {
    switch (key) {
    case 1:
        if (isLong) {
            ModeStep(w);
        } else {
            // Leaving stops a transmit test; the key shows it for the next
            // visit. Manual mode ends here, so one MANUAL opens menu 4 again.
            w->manualTune = 0;
            uint8_t t = w->txTest.load();
            w->txTest = static_cast<uint8_t>((t | kTxTestSend) & ~kTxTestOn);
            std::snprintf(KeyLabel(4, 6, 1), kLabelLen, "StartTX");
            w->saveBank = w->numBanco.load();
            w->saveAnt = w->antenna.load();
            w->menuIdx = 8;
        }
        return 0;
    case 2:
    case 3:
        ManualStep(w, true, key == 2 ? -1 : 1);
        return isLong ? 1 : 0;
    case 4:
    case 5:
        ManualStep(w, false, key == 4 ? -1 : 1);
        return isLong ? 1 : 0;
    case 6:
        StartStopTx(w);
        return 0;
    default:
        return 0;
    }
}

int KeysStoreTune(Works *w, int key) {
    switch (key) {
    case 1:
        w->menuIdx = 0;
        break;
    case 2:
        w->saveBank = StepWrap(w->saveBank.load(), w->maxBank.load());
        break;
    case 3:
        w->saveAnt = StepWrap(w->saveAnt.load(), 3);
        break;
    case 6: {
        if (DecodeModoFromTuneval(w->tunerWord.load()) == 3) {
            w->keyFlags.fetch_or(2); // "ATU ByPass not saved!"
        } else {
            // Another bank's file is updated through a scratch table: the
            // working tables keep the current bank all along, so a recall or
            // a tune ending meanwhile never sees another bank's entries. Only
            // the tuner memories are read again: the tuner word, the band row
            // and the interface stay as the operator set them.
            InsertTuneToMem(w, w->saveBank.load(), w->saveAnt.load());
            for (int ant = 0; ant < kTuneMemAnts; ant++)
                LoadTabAtu(w, w->numBanco.load(), ant);
        }
        w->menuIdx = 3;
        break;
    }
    default:
        break;
    }
    return 0;
}
