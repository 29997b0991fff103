#include "amplifier/tune.h"

#include "model/cmd_queue.h"
#include "amplifier/commands.h"
#include "amplifier/tune_search.h"
#include "model/tuner_word.h"
#include "config/tuner_memory.h"
#include "model/errors.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <mutex>

TuneSample tuneParam;
TuneSample miglioretuneParam;
TuneSample vTuneParam[kTuneHistory];
int cnttune = 0;
int cnttunefine = 0;
int cnttuneLast = 0;
const int SWRTimeoutCICLI[5] = {600, 400, 300, 200, 100};
const char SWRTimeout[5][8] = {"25sec", "20sec", "15sec", "10sec", "5sec"};

namespace {

// The search's globals are written by the link thread and by whoever starts
// or stops a tune (keys, supervisor): one lock around each of them.
std::mutex gTuneLock;
// The tuner word in force when the tune started: what the board goes back to
// when the tune is abandoned or ends without a single sample taken with power.
uint32_t gWordBefore = 0;
// The search of this tune, chosen at its start: the model search (TuneSearch
// 1, with a known frequency) or the stepped one.
bool gModelSearch = false;
// What the running tune belongs to, fixed at its start: its result goes to
// this bank, antenna and frequency index whatever changes meanwhile.
struct TuneOwner {
    int bank = 0;
    int ant = 0;
    int32_t freq = 0;
    int32_t segFrom = 0, segTo = 0; // the memory segment of `freq`
};
TuneOwner gOwner;

constexpr int kCoarseL = 4, kCoarseC = 8, kCoarseLastL = 2;
constexpr float kTolerance = 0.1f;
constexpr int kFineL = 7, kFineC = 15, kFineLastL = 5;
constexpr int kStepTop = 511;
constexpr uint32_t kModeBits = kTunerModeCL | kTunerModeLC | kTunerModeThrough;

void WriteL(Works *w, int l) {
    w->tuneL = l;
    SetI(w, l);
}

void WriteC(Works *w, int c) {
    w->tuneC = c;
    SetC(w, c);
}

void SetArrangement(Works *w, uint32_t bit) {
    w->tunerWord = (w->tunerWord.load() & ~kModeBits) | bit;
}

// The newest sample is at most the tolerance above the one before. A sample
// without power is never "not worse"; one before it without power (or the
// cleared history) counts as no limit.
bool NotWorse() {
    const TuneSample &now = vTuneParam[0], &before = vTuneParam[1];
    if (!TuneSampleValid(now)) return false;
    if (!TuneSampleValid(before)) return true;
    return now.swr <= before.swr + kTolerance;
}

void Advance(Works *w, int state) {
    w->tuneStep = state;
    cnttunefine = 0;
}

// The relay bank a phase of the search walks.
enum Bank { kInductor, kCapacitor };

int Step(Works *w, Bank bank) {
    return bank == kInductor ? w->tuneL.load() : w->tuneC.load();
}

void WriteStep(Works *w, Bank bank, int step) {
    if (bank == kInductor)
        WriteL(w, step);
    else
        WriteC(w, step);
}

// A coarse phase, after its sample: up by `size` while the SWR is not worse
// and the bank has room; then on to `next`, one step back down (never below 1).
void CoarsePhase(Works *w, Bank bank, int size, int next) {
    int at = Step(w, bank);
    if (NotWorse() && at + size < kStepTop) {
        WriteStep(w, bank, at + size);
        return;
    }
    Advance(w, next);
    WriteStep(w, bank, at >= 2 ? at - 1 : at);
}

// A fine phase, after its sample: down by one while the SWR is not worse, the
// bank is above 0 and fewer than `limit` + 1 steps were taken. True when the
// phase is over (the caller moves on).
bool FinePhaseOver(Works *w, Bank bank, int limit) {
    int at = Step(w, bank);
    if (NotWorse() && at >= 1 && cnttunefine <= limit) {
        cnttunefine++;
        WriteStep(w, bank, at - 1);
        return false;
    }
    return true;
}

// What every end of a tune does: the normal attenuator, the transceiver back
// to receive, the thresholds the tune opened put back.
void Finish(Works *w) {
    IncPNTIn_CMDLinear(kCmdAttenuator, w);
    cnttuneLast = cnttune;
    cnttune = 0;
    if (w->tuneOpt.load() & kTuneOptTav) w->tuneOpt.fetch_or(kTuneOptSendRx);
    // The threshold selection runs again and puts back the input threshold
    // the tune opened.
    w->tuneBand = -1;
    w->tuneState = 0;
}

// Ends the tune with its result: stored when `store` is 1 and the SWR is good
// enough, an error when it is not. The caller holds the lock. A tune that ran
// out of cycles reports that (its own warning) and not a bad result besides:
// one cause, one error.
void FinishWithResult(Works *w, int store, bool timedOut = false) {
    // The result is the last sample; if that one had no power (a drop-out at
    // the very end) the best stands for it, since its word is in force.
    const TuneSample *r = TuneSampleValid(tuneParam)           ? &tuneParam
                          : TuneSampleValid(miglioretuneParam) ? &miglioretuneParam
                                                               : nullptr;
    if (r != nullptr && r->swr <= kTuneMaxSwr) {
        if (store == 1) InsertTuneToMemAt(w, gOwner.bank, gOwner.ant, gOwner.freq);
    } else if (!timedOut) {
        AddErrore(w, kErrTuneMaxSwr);
        Trace("------- ERRORE MAX TUNE (%f)\n", static_cast<double>(r ? r->swr : tuneParam.swr));
    }
    Finish(w);
}

// The tune is abandoned (stopped, or overtaken by a change of frequency or
// tuner): the word from before it goes back to the board, nothing is stored
// and no error raised. The caller holds the lock.
void AbandonLocked(Works *w) {
    w->tunerWord = gWordBefore;
    w->tuneC = DecodeCapacitaFromTuneval(gWordBefore);
    w->tuneL = DecodeInduttanzaFromTuneval(gWordBefore);
    w->tuneMode = DecodeModoFromTuneval(gWordBefore);
    IncPNTIn_CMDLinear(kCmdTunerWord, w);
    Finish(w);
}

// Samples; true when the tune has ended (the state does nothing more).
bool Sample(Works *w) {
    return TuneStep(w) == 1;
}

// The tune's first states: settle, clear the samples, wait for the carrier.
void StartStep(Works *w, int state) {
    if (state == kTuneSettle) {
        w->tuneStep = kTuneClear;
    } else if (state == kTuneClear) {
        Clr_vTuneParam(w);
        SetArrangement(w, kTunerModeCL);
        WriteC(w, tuneParam.C);
        WriteL(w, tuneParam.L);
        w->tuneStep = kTuneWaitCarrier;
        cnttune = 0;
    } else if (w->txReady.load() == 1) {
        SleepMs(3);
        w->tuneStep = kTuneLCoarse;
    } else {
        cnttune++; // waiting for a carrier counts toward the cycle limit
    }
}

// States from kTuneLCoarse on take a sample first; when that sample ends the
// tune, the state does nothing more.
void StateStep(Works *w) {
    int state = w->tuneStep.load();
    if (state >= kTuneSettle && state < kTuneLCoarse) {
        StartStep(w, state);
        return;
    }
    if (state >= kTuneLCoarse && state <= kTuneFinalSample && Sample(w)) return;
    switch (state) {
    case kTuneLCoarse:
        CoarsePhase(w, kInductor, kCoarseL, kTuneLFine);
        break;
    case kTuneLFine:
        if (!FinePhaseOver(w, kInductor, kFineL)) break;
        Advance(w, kTuneCCoarseB);
        WriteC(w, w->tuneC.load() + kCoarseC);
        break;
    case kTuneCCoarseB:
        CoarsePhase(w, kCapacitor, kCoarseC, kTuneCFineB);
        break;
    case kTuneCFineB:
        if (!FinePhaseOver(w, kCapacitor, kFineC)) break;
        Advance(w, kTuneSwitchToA);
        SetArrangement(w, kTunerModeLC);
        WriteC(w, 0);
        break;
    case kTuneSwitchToA:
        if (w->tuneC.load() + kCoarseC < kStepTop) WriteC(w, w->tuneC.load() + kCoarseC);
        Advance(w, kTuneCCoarseA);
        break;
    case kTuneCCoarseA:
        CoarsePhase(w, kCapacitor, kCoarseC, kTuneCFineA);
        break;
    case kTuneCFineA: {
        if (!FinePhaseOver(w, kCapacitor, kFineC)) break;
        bool notWorse = NotWorse();
        Advance(w, kTuneLCoarseLast);
        TuneEnd(w); // the best of both arrangements
        if (notWorse && w->tuneL.load() + kCoarseLastL < kStepTop)
            WriteL(w, w->tuneL.load() + kCoarseLastL);
        break;
    }
    case kTuneLCoarseLast:
        CoarsePhase(w, kInductor, kCoarseLastL, kTuneLFineLast);
        break;
    case kTuneLFineLast:
        if (!FinePhaseOver(w, kInductor, kFineLastL)) break;
        w->tuneStep = kTuneFinalSample; // the fine count is kept
        TuneEnd(w);
        break;
    case kTuneFinalSample:
        FinishWithResult(w, 1);
        break;
    default:
        Trace("tune: state %d unknown, tune ended\n", state);
        FinishWithResult(w, 0);
        break;
    }
}

} // namespace

int TuneCycleLimit(int idx) {
    return SWRTimeoutCICLI[idx >= 0 && idx < 5 ? idx : 0];
}

bool TuneSampleValid(const TuneSample &s) {
    return s.pwrFwd >= kTuneMinFwdW;
}

void Clr_vTuneParam(Works *) {
    tuneParam = TuneSample{999.0f, 0.0f, 0, 0, 0};
    miglioretuneParam = tuneParam;
    for (TuneSample &s : vTuneParam)
        s = tuneParam;
}

void CtrlNuovoTune(Works *) {
    // Ties keep the older sample.
    if (TuneSampleValid(tuneParam) &&
        (!TuneSampleValid(miglioretuneParam) || tuneParam.swr < miglioretuneParam.swr))
        miglioretuneParam = tuneParam;
    for (int i = kTuneHistory - 1; i > 0; i--)
        vTuneParam[i] = vTuneParam[i - 1];
    vTuneParam[0] = tuneParam;
}

void TuneEnd(Works *w) {
    tuneParam = miglioretuneParam;
    if (!TuneSampleValid(miglioretuneParam)) {
        // Nothing was measured: back to the word the tune started from.
        w->tunerWord = gWordBefore;
        w->tuneC = DecodeCapacitaFromTuneval(gWordBefore);
        w->tuneL = DecodeInduttanzaFromTuneval(gWordBefore);
        return;
    }
    w->swr = tuneParam.swr;
    w->pwrFwd = tuneParam.pwrFwd;
    w->tuneL = tuneParam.L;
    w->tuneC = tuneParam.C;
    w->tunerWord = tuneParam.tunerWord;
    w->tuneSwrBest = tuneParam.swr;
}

int TuneStep(Works *w) {
    if (w->boardStatus[1].load() & 2) {
        // High-SWR trip: the sample counts as SWR 100 and the board gets
        // "CPFFFF;" next; only a running tune is sent that way.
        w->swr = 100.0f;
        uint8_t running = 1;
        w->tuneState.compare_exchange_strong(running, 2);
    }
    tuneParam = TuneSample{w->swr.load(), w->pwrFwd.load(), w->tuneL.load(), w->tuneC.load(),
                           w->tunerWord.load()};
    cnttune++;
    CtrlNuovoTune(w);
    if (TuneSampleValid(tuneParam) && tuneParam.swr < w->swrTarget.load() &&
        tuneParam.swr > 0.01f) {
        TuneEnd(w);
        FinishWithResult(w, 1);
        return 1;
    }
    return 0;
}

void TuneTask(Works *w) {
    std::lock_guard<std::mutex> lock(gTuneLock);
    // Stopped between the status reply and here.
    if (w->tuneState.load() != 1) return;
    // The start's commands go out first.
    if (w->cmdQueueDrain.load() != 0) return;
    if (cnttune > TuneCycleLimit(w->swrTimeoutIdx.load())) {
        TuneEnd(w);
        FinishWithResult(w, 0, true);
        AddErrore(w, w->swrTarget.load() == 0.0f ? kErrTuneTimeout : kErrTuneSwrWarning);
        AttivaDisattivaProtezione(w, 1);
        // The tune is over: no step may move the restored best or store it.
        return;
    }
    if (gModelSearch && w->tuneStep.load() >= kTuneLCoarse) {
        if (TuneSearchStep(w) == 1) {
            TuneEnd(w);
            FinishWithResult(w, 1);
        }
        return;
    }
    StateStep(w);
}

void StartAutotune(Works *w) {
    if (w->tunerThrough.load() != 0) return;
    std::lock_guard<std::mutex> lock(gTuneLock);
    w->tuneMethod = 1;
    w->tuneStep = kTuneSettle;
    cnttune = 0;
    cnttunefine = 0;
    gWordBefore = w->tunerWord.load();
    gModelSearch = w->options.tuneSearch.load() == 1 && w->freq.load() > 0;
    gOwner.bank = w->numBanco.load();
    gOwner.ant = w->antenna.load();
    gOwner.freq = w->freq.load();
    int first, end;
    AtuIdxSearch(gOwner.freq, &gOwner.segFrom, &gOwner.segTo, &first, &end);
    IncPNTIn_CMDLinear(kCmdProtectionOn, w);
    IncPNTIn_CMDLinear(kCmdAttenuatorTune, w);
    w->tsThreshold[0] = 4095;
    IncPNTIn_CMDLinear(kCmdThresholds, w);
    w->tunerThrough = 0;
    IncPNTIn_CMDLinear(kCmdResetTrips, w);
    IncPNTIn_CMDLinear(kCmdProtectionOff, w);
    w->cmdQueueDrain = 1;
    w->tuneState = 1;
    if (w->boardStatus[0].load() & 1) {
        w->antInput = 0;
        IncPNTIn_CMDLinear(kCmdInput, w);
    }
    Trace("--------- START AUTO TUNE (%x) %i\n", w->tuneOpt.load(), w->tuneStep.load());
}

void EscAutoTune(Works *w, int store) {
    std::lock_guard<std::mutex> lock(gTuneLock);
    // Only a running tune ends: a late stop must not report or store the
    // samples of a tune that is already over.
    if (w->tuneState.load() == 0) return;
    if (store == 1)
        FinishWithResult(w, 1);
    else
        AbandonLocked(w);
}

void TuneFollowFrequency(Works *w, int32_t freq) {
    std::lock_guard<std::mutex> lock(gTuneLock);
    if (w->tuneState.load() == 0) return;
    if (freq >= gOwner.segFrom && freq < gOwner.segTo) return;
    Trace("tune: %ld Hz is outside the tune's memory segment, tune abandoned\n",
          static_cast<long>(freq));
    AbandonLocked(w);
}
