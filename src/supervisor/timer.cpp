#include "supervisor/timer.h"

#include "model/cmd_queue.h"
#include "amplifier/tune.h"
#include "amplifier/temp_log.h"
#include "config/filter_table.h"
#include "display/fb.h"
#include "display/graph.h"
#include "display/png.h"
#include "model/screen.h"
#include "display/ttf.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/wait.h"
#include "remote/frames.h"
#include "supervisor/antenna.h"
#include "supervisor/meters.h"
#include "supervisor/thresholds.h"
#include "transceiver/logger.h"
#include "transceiver/serial.h"
#include "model/errors.h"
#include "model/fault_history.h"
#include "model/heartbeat.h"
#include "ui/menu.h"
#include "ui/status.h"
#include "ui/view.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kSaveScreen[5] = {5, 10, 20, 30, 60}; // minutes by saveScreenIdx
constexpr double kTempLogEveryMs = 5000.0;

void LoadBackground(Works *w, const char *name) {
    ShowBackground(w, name);
}

// Queues `code` after setting antInput to `value`; a refused code puts the
// old value back so that the next pass tries again.
void SetAntInput(Works *w, int32_t value) {
    int32_t old = w->antInput.exchange(value);
    if (IncPNTIn_CMDLinear(kCmdInput, w) != 0) w->antInput = old;
}

// The screen of a serial link that failed to open. Its picture is loaded
// into the background once; later passes restore it from there.
void PortErrorPass(Works *w, SupervisorState *st) {
    if (!st->errorImage) {
        LoadBackground(w, w->powerClass.load() == '1' ? "start120" : "start");
        st->errorImage = true;
    }
    char text[128];
    std::snprintf(text, sizeof text, "Error! %.*s", static_cast<int>(sizeof w->portErrorText),
                  w->portErrorText);
    // The message goes on a band of its own across the picture's caption,
    // moved left (and in the smaller face if need be) so that a long device
    // path stays on the screen.
    for (int y = 268; y < 312; y++)
        DrawHorizontalLine(0, y, w->fb.sizeX, 80, 12, 12, &w->fb, 0);
    int font = 9;
    int width = getStringSpace(font, text);
    if (width > 780) {
        font = 8;
        width = getStringSpace(font, text);
    }
    for (size_t n = std::strlen(text); width > 780 && n > 0; n--) {
        text[n - 1] = '\0'; // past the right edge it would wrap to the left
        width = getStringSpace(font, text);
    }
    int x = 130;
    if (x + width > 790) x = width < 780 ? 790 - width : 10;
    putString(font, x, 300, text, 255, 255, 255, &w->fb, 0, 0, 0, 0);
    if (w->menuIdx.load() != 5) w->menuIdx = 5;
    LoadButtons(w, st->tav);
}

void ScreenSaver(Works *w, SupervisorState *st, uint64_t now) {
    // Idle time runs on the monotonic clock from the moment a new key time
    // was seen, so a wall-clock step cannot start or stall the saver.
    int32_t key = w->lastKeyTime.load();
    if (key != st->keySeen) {
        st->keySeen = key;
        st->keySeenMs = now;
    }
    uint64_t idleMin = (now - st->keySeenMs) / 60000;
    if (idleMin >= static_cast<uint64_t>(SaveScreenMinutes(w->saveScreenIdx.load())) &&
        w->saveScreenOn.load() == 0) {
        w->saveScreenOn = 1;
        LoadBackground(w, "start");
    }
}

// The logger's frequency into force. A band change (another antenna-table
// row, or none) while a radio transmits waits, so that no relay switches
// under power: until the logger says receive, or for 2 s without forward
// power on the board. The message line says that it waits.
void LoggerFrequency(Works *w, SupervisorState *st, uint64_t now) {
    const int32_t want = w->logFreq.load(), cur = w->freq.load();
    bool wait = false;
    const int row = AntennaRowOf(w, want);
    if (want != cur && cur != 0 && (row < 0 || row != AntennaRowOf(w, cur))) {
        const uint8_t tx = w->logTxAny.load();
        if (tx == 1 || (tx == 2 && (w->boardStatus[1].load() & 1) != 0)) {
            if (!st->logHeld) {
                LogInfo("logger: band change to %d Hz waits for receive", want);
                st->logHeld = true;
                st->noPower = false;
            }
            if (w->pwrFwd.load() >= kLoggerNoPowerW) {
                st->noPower = false;
            } else if (!st->noPower) {
                st->noPower = true;
                st->noPowerSince = now;
            }
            wait = !st->noPower || !expired(st->noPowerSince, now, kLoggerNoPowerMs);
        }
    }
    if (!wait) {
        if (st->logHeld) LogInfo("logger: %d Hz in force", want);
        st->logHeld = false;
        w->freq = want;
    }
    w->logHold = wait ? 1 : 0;
}

// Takes the frequency from the source of the working mode; false when the
// mode is not known yet (no source, no frequency actions).
bool FrequencySource(Works *w, SupervisorState *st, int mode, uint64_t now) {
    switch (mode) {
    case 1:
        getParameters(&st->tav, w);
        w->freq = static_cast<int32_t>(st->tav.freqCur);
        return true;
    case 2:
        if (w->antInput.load() > 0) SetAntInput(w, 0);
        w->freq = w->catFreq.load();
        return true;
    case 3: // a rig daemon: as the FT-817, from the frequency it reported
        if (w->antInput.load() > 0) SetAntInput(w, 0);
        w->freq = w->rigFreq.load();
        return true;
    case 4: // the logging program's datagrams; no actions before the first
        if (w->antInput.load() > 0) SetAntInput(w, 0);
        if (w->logFreq.load() == 0) return false;
        LoggerFrequency(w, st, now);
        return true;
    case 0:
        w->freq = w->freqMeasured.load();
        if (w->antInput.load() > 0) SetAntInput(w, 0);
        return true;
    default:
        return false;
    }
}

void FrequencyChange(Works *w, int mode) {
    int32_t f = w->freq.load();
    if (f == w->freqPrev.load() && w->bandRow.load() != -1) return;
    // A tune the new frequency takes out of its memory segment ends first.
    TuneFollowFrequency(w, f);
    // The frequency goes to the board first; while the ring refuses it the
    // change stays pending and the next pass tries again.
    if (mode != 0 && IncPNTIn_CMDLinear(kCmdFreq, w) != 0) return;
    // A bank load's request (-1) is taken here, once: the antenna selection
    // below puts the row it finds (or 100, none) in its place.
    int32_t request = -1;
    w->bandRow.compare_exchange_strong(request, 100);
    SetFilterFromfreq(w);
    SearchCambioSoglie_TS(w);
    GestioneAntennaAutomatica(w);
    w->freqPrev = f;
    // The band's commands go to the board as one batch, back to back.
    if (!PacingBySleep() && !CmdQueueEmpty(w)) {
        w->cmdQueueDrain = 1;
        WakeSignal(w->linWake);
    }
}

// Hand-shake of the automatic tune started by the TAV transceiver's carrier.
void TavTuneRules(Works *w, SupervisorState *st, int tx) {
    uint8_t opt = w->tuneOpt.load();
    auto clear = [w](uint8_t bits) { w->tuneOpt.fetch_and(static_cast<uint8_t>(~bits)); };
    auto wait = [st]() {
        if (st->tuneWaitMark + 10 < st->tuneWaitCnt) return true;
        if (st->tuneWaitMark == 0) st->tuneWaitMark = st->tuneWaitCnt;
        st->tuneWaitCnt++;
        return false;
    };
    if (tx == 1 && !(opt & kTuneOptStarted) && !(opt & kTuneOptKeyStart)) {
        // No search under the operator's manual stepping.
        if (w->manualTune.load() != 0) return;
        if (w->txTest.load() == 0 && w->rxSettle.load() == 0) {
            StartAutotune(w);
            w->tuneOpt.fetch_or(kTuneOptStarted);
            st->tuneWaitCnt = st->tuneWaitMark = 0;
        } else if (w->rxSettle.load() > 0) {
            w->rxSettle.fetch_sub(1);
        }
    } else if (tx == 1 && (opt & kTuneOptRxSent)) {
        if (wait()) clear(kTuneOptStarted | kTuneOptKeyStart | kTuneOptRxSent);
    } else if (tx == 0 && (opt & kTuneOptRxSent)) {
        if (wait()) {
            clear(kTuneOptStarted | kTuneOptKeyStart | kTuneOptRxSent);
            st->tuneWaitCnt = st->tuneWaitMark = 0;
        }
    } else if (opt & kTuneOptKeyStart) {
        if (tx == 0 && !(opt & kTuneOptTxSent)) {
            if (w->cmdQueueIn.load() == w->cmdQueueOut.load()) {
                w->tuneOpt.fetch_or(kTuneOptSendTx);
                st->tuneWaitCnt = st->tuneWaitMark = 0;
            }
        } else if (tx == 0) {
            if (st->tuneWaitCnt > 30) {
                EscAutoTune(w, 0);
                AddErrore(w, kErrTuneTavAbort); // the transceiver ended the tune
                clear(kTuneOptKeyStart | kTuneOptTxSent);
            } else {
                st->tuneWaitCnt++;
            }
        } else if (!(opt & kTuneOptTxSent)) {
            st->tuneWaitCnt = st->tuneWaitMark = 0;
        }
    }
}

void TavMode(Works *w, SupervisorState *st) {
    const int tx = st->tav.txFlag;
    w->txReady = tx == 1 ? 1 : 0;
    const int32_t sel = st->tav.inputSel;
    if (w->antInput.load() != sel && w->tuneState.load() != 1 && w->txReady.load() == 0 &&
        (w->txTest.load() & (kTxTestInput0 | kTxTestInputOk)) == 0)
        SetAntInput(w, sel);
    if (w->tuneOpt.load() & kTuneOptTav) TavTuneRules(w, st, tx);
}

// A tune that ended asks (tuneBand -1) for the protection thresholds of the
// frequency again, so the input threshold it opened is put back at once, not
// only at the next band change. Tried once per frequency when no band row
// holds it.
void ThresholdsAfterTune(Works *w, SupervisorState *st) {
    if (w->tuneBand.load() != -1 || w->tuneState.load() != 0) return;
    int32_t f = w->freq.load();
    // Before the first frequency change actions there is nothing to restore.
    if (f == 0 || f != w->freqPrev.load() || f == st->thresholdsTriedAt) return;
    SearchCambioSoglie_TS(w);
    st->thresholdsTriedAt = w->tuneBand.load() == -1 ? f : -1;
}

void DrawScreen(Works *w, SupervisorState *st) {
    // The processor temperatures are shown on the status page only: "my_temp"
    // runs (at most once a second) while it is open, not on an idle unit.
    if ((w->screenFlags.load() & kScreenStatus) != 0) ReadCPUTemp(w);
    ReadDataOra(w);
    if (w->redrawBack.exchange(0) == 1)
        LoadBackground(w, w->powerClass.load() == '1' ? "img1b" : "img1");
    const int flags = w->screenFlags.load();
    if (w->viewTimeStr.load() != 0 && flags == 0) {
        // Drawn again when the text changes (once a second).
        char clock[sizeof w->dateTime] = {};
        std::memcpy(clock, w->dateTime, strnlen(w->dateTime, sizeof clock - 1));
        if (fbBandBegin(&w->fb, kBandClock, 0, 22, clock, sizeof clock) != 0) {
            const int x = 780 - getStringSpace(6, clock);
            // A dark backing: the white text reads on the light meter faces too.
            for (int y = 3; y <= 21; y++)
                DrawHorizontalLine(x - 6, y, 787, 28, 28, 32, &w->fb, 0);
            putString(6, x, 17, clock, 255, 255, 255, &w->fb, 0, 0, 0, 0);
            fbBandEnd(&w->fb, kBandClock);
        }
    }
    LoadButtons(w, st->tav);
    if (flags != 0) return;
    const int view = w->viewType.load();
    if (view >= 1 && view <= 3)
        DrawMeters(w);
    else if (view == 4 || view == 5)
        DrawGrid(w);
}

// Nothing was drawn, no peer takes a status every pass, and nothing counts
// passes (the tune hand-shakes, the settling after receive, a link failure
// shown): the next pass may wait for an event.
bool QuietPass(Works *w, SupervisorState *st) {
    return w->fb.realizedRows == 0 && w->wsConnected.load() == 0 && w->portError.load() == 0 &&
           w->tuneState.load() == 0 && (w->tuneOpt.load() & ~kTuneOptTav) == 0 &&
           w->txTest.load() == 0 && w->rxSettle.load() == 0 && w->txReady.load() == 0 &&
           st->tuneWaitCnt == 0 && w->freq.load() == w->freqPrev.load() &&
           w->logHold.load() == 0;
}

} // namespace

int SaveScreenMinutes(int idx) {
    return idx >= 0 && idx < 5 ? kSaveScreen[idx] : kSaveScreen[0];
}

void CountDownTimers(Works *w, uint64_t elapsedMs) {
    int32_t h = w->errHoldOff.load();
    if (h > 0) {
        int64_t left = static_cast<int64_t>(h) - static_cast<int64_t>(elapsedMs);
        w->errHoldOff = left > 0 ? static_cast<int32_t>(left) : 0;
    }
}

void SupervisorTimers(Works *w, uint64_t d) {
    CountDownTimers(w, d);
    PeakHoldStep(w, d > 1000000 ? 1000000 : static_cast<int>(d));
    if (w->tempLogOn.load() == 1 && w->tempLogStarted.load() == 1) {
        w->tempLogTimer += static_cast<double>(d);
        if (w->tempLogTimer >= kTempLogEveryMs) {
            LogTempFunction(w, 0);
            w->tempLogTimer = 0;
        }
    }
}

void SupervisorStart(Works *w, SupervisorState *st, uint64_t now) {
    w->peak[0].angle = 0.0f;
    w->peak[1].angle = 0.0f;
    LogInfo("Timer thread started");
    InitGrid();
    // Start-up leaves its plain page in the background: the first normal pass
    // puts the meter face of the starting view there.
    w->redrawBack = 1;
    *st = SupervisorState{};
    st->started = true;
    st->lastPass = now;
    st->keySeen = w->lastKeyTime.load();
    st->keySeenMs = now;
}

void SupervisorStep(Works *w, SupervisorState *st, uint64_t now) {
    if (st->started && now >= st->lastPass) SupervisorTimers(w, now - st->lastPass);
    st->started = true;
    st->lastPass = now;
    // No spectrum for a while (or none yet): the plot says NO DATA.
    const uint32_t spectra = w->spectraStored.load();
    if (spectra != st->spectraSeen) {
        st->spectraSeen = spectra;
        st->spectrumAtMs = now;
    }
    w->plotNoData = spectra == 0 || now - st->spectrumAtMs >= kPlotStaleMs ? 1 : 0;

    // The pass owns the frame: a key loading a page waits for its end.
    std::unique_lock<std::recursive_mutex> frame(w->frameLock);
    fbSetBack(&w->fb);
    // A link failure not yet answered is shown, one link at a time.
    if (w->portError.load() == 0) ShowNextPortError(w);
    const int32_t portError = w->portError.load();
    if (portError > 0) {
        PortErrorPass(w, st);
    } else {
        st->errorImage = false;
        if (portError == -1) {
            // The operator dismissed the failure: back to the normal screen
            // (a page left open under the failure closes with it).
            w->menuIdx = 0;
            w->screenFlags = 0;
            SetWorkImg(w);
            int32_t dismissed = -1;
            w->portError.compare_exchange_strong(dismissed, 0);
        } else {
            ScreenSaver(w, st, now);
            const int mode = w->ModeWorkIdx.load();
            if (FrequencySource(w, st, mode, now)) {
                FrequencyChange(w, mode);
                if (mode == 1) TavMode(w, st);
                // The daemon's or the logger's transmit state, or the board's
                // own transmit bit for a carrier they do not report, tells the tune.
                if (mode == 3 || mode == 4)
                    w->txReady = (mode == 3 ? w->rigPtt.load() : w->logTx.load()) != 0 ||
                                 (w->boardStatus[1].load() & 1) != 0;
            }
            ThresholdsAfterTune(w, st);
            if (w->saveScreenOn.load() == 0) DrawScreen(w, st);
        }
    }
    if (w->wsConnected.load() != 0) {
        char text[kStatusTextLen + 1];
        CreaBufferDiStato(w, text);
        sendWebSockStatusFrame(w, text, kStatusTextLen);
    }
    fbRealize(&w->fb);
    frame.unlock();
    // Faults raised since the last pass go to the history (off the link thread).
    FaultHistoryFlush(w);
    st->quiet = QuietPass(w, st);
}

void *timer(void *arg) {
    Works *w = static_cast<Works *>(arg);
    if (!PacingBySleep()) RelaxTimers(2000);
    SupervisorState st;
    SupervisorStart(w, &st, NowMs());
    BeatBegin(w, kBeatSupervisor);
    while (w->running.load() != 0) {
        Beat(w, kBeatSupervisor);
        SupervisorStep(w, &st, NowMs());
        int32_t us = w->timerUsec.load();
        if (us <= 0) us = 10000;
        // Anything that moves (a new frequency, a key, readings) starts the
        // next pass at once.
        if (PacingBySleep())
            SleepUs(static_cast<uint32_t>(us));
        else
            WaitPortOrWake(-1, w->timerWake, st.quiet ? kQuietPassMs : (us + 999) / 1000);
    }
    BeatEnd(w, kBeatSupervisor);
    FaultHistoryFlush(w);
    LogInfo("Timer operations end\n");
    return nullptr;
}
