// Automatic tune: the search the power-board link runs one step per status
// reply (each step reads the SWR of the tuner word the step before sent), its
// start and its end.
#pragma once
#include <cstdint>

struct Works;

// One measurement of the search.
struct TuneSample {
    float swr;
    float pwrFwd;
    int32_t L;
    int32_t C;
    uint32_t tunerWord;
};

// The states of the stepped search (`tuneStep`). Arrangement "B" is tried
// first, then "A"; the best of both is refined by a last pass over L.
enum TuneState : int {
    kTuneSettle = 0,       // one cycle of settling
    kTuneClear = 1,        // samples cleared, arrangement "B", L and C at 0
    kTuneWaitCarrier = 2,  // waits for the transceiver's carrier
    kTuneLCoarse = 3,      // the first sample; L up in coarse steps
    kTuneLFine = 4,        // L down in single steps
    kTuneCCoarseB = 5,     // C up in coarse steps, arrangement "B"
    kTuneCFineB = 6,       // C down in single steps, arrangement "B"
    kTuneSwitchToA = 7,    // arrangement "A", C from 0
    kTuneCCoarseA = 8,     // C up in coarse steps, arrangement "A"
    kTuneCFineA = 9,       // C down in single steps, then the best of both
    kTuneLCoarseLast = 10, // L up again in smaller steps
    kTuneLFineLast = 11,   // L down again, then the best
    kTuneFinalSample = 12, // the last sample; the result is stored
};

constexpr int kTuneHistory = 10;
// Forward power (W) below which a sample counts as taken without a carrier:
// it is never the best and never "not worse". Far below any drive the tune
// can work with (a few watts), far above the detector's noise.
constexpr float kTuneMinFwdW = 1.0f;
// A result above this SWR is a failed tune.
constexpr float kTuneMaxSwr = 6.0f;

extern TuneSample tuneParam;                // the sample just taken
extern TuneSample miglioretuneParam;        // the best sample of this tune
extern TuneSample vTuneParam[kTuneHistory]; // newest first
extern int cnttune;                         // samples (and carrier waits) of this tune
extern int cnttunefine;                     // steps of the current fine phase
extern int cnttuneLast;                     // cnttune of the last tune that ended
extern const int SWRTimeoutCICLI[5];        // cycle limits by swrTimeoutIdx
extern const char SWRTimeout[5][8];         // their labels

// The cycle limit of a swrTimeoutIdx (an index outside the table takes 0).
int TuneCycleLimit(int idx);
// True when the sample was taken with forward power.
bool TuneSampleValid(const TuneSample &s);

// One step of the automatic tune; the link sends the tuner word after it.
void TuneTask(Works *works);
// Takes a sample; 1 when the tune has just ended successfully.
int TuneStep(Works *works);
// Keeps the best sample and shifts the history.
void CtrlNuovoTune(Works *works);
// Makes the best sample current (word, steps, SWR).
void TuneEnd(Works *works);
// Clears the sample, the best and the history.
void Clr_vTuneParam(Works *works);
// Starts an automatic tune at the current frequency (not while the tuner is
// switched through).
void StartAutotune(Works *works);
// Ends a running tune. `store` 1: a result of SWR 6 or less is stored in the
// bank, antenna and frequency index the tune started with. `store` 0: the
// tune is abandoned (the operator's stop, the transceiver's abort): the word
// in force before it goes back to the board, nothing is stored and no error
// is raised.
void EscAutoTune(Works *works, int store);
// A new frequency while a tune runs: outside the tuner-memory segment the
// tune started in, the tune is abandoned as by a stop.
void TuneFollowFrequency(Works *works, int32_t freq);
