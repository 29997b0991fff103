// Supervisor thread: the unit's heartbeat and the owner of the main screen.
// Each pass takes the frequency from the working mode's source, applies a
// frequency change (filter, thresholds, antenna, stored tune), runs the TAV
// transmit hand-shake, redraws the screen, sends the status text to a peer and
// counts its timers down. The thread is a thin loop around SupervisorStep.
#pragma once
#include <cstdint>

#include "model/works.h"

// What the supervisor keeps from one pass to the next.
struct SupervisorState {
    TavParams tav{};      // snapshot of the TAV record (TAV mode), passed to the soft keys
    int tuneWaitCnt = 0;  // passes counted by the TAV tune hand-shake
    int tuneWaitMark = 0; // pass count where the current wait began
    bool started = false;
    uint64_t lastPass = 0;          // monotonic ms at the start of the previous pass
    int32_t keySeen = 0;            // lastKeyTime as last seen
    uint64_t keySeenMs = 0;         // monotonic ms when it was last seen to change
    bool errorImage = false;        // the port-error picture is in the background
    int32_t thresholdsTriedAt = -1; // frequency whose threshold selection found no row
    bool quiet = false;             // the last pass changed nothing and nothing is timed by passes
    uint32_t spectraSeen = 0;       // spectraStored as last seen
    uint64_t spectrumAtMs = 0;      // monotonic ms when it was last seen to change
    bool logHeld = false;           // a band change from the logger waits for receive
    bool noPower = false;           // meanwhile no forward power, since noPowerSince
    uint64_t noPowerSince = 0;
};

// Between the passes of a screen that does not change: the next pass comes
// at once when something moves (WakeSupervisor), else after this long.
constexpr int kQuietPassMs = 100;

void *timer(void *arg);

// Start of the thread: peak needles at rest, plot layout, idle clock from `now`.
void SupervisorStart(Works *works, SupervisorState *state, uint64_t now);
// One pass at monotonic time `now` (ms): first the timers by the time since
// the previous pass, then the pass itself, ending with the screen shown;
// `state->quiet` then tells whether the next pass may wait longer.
void SupervisorStep(Works *works, SupervisorState *state, uint64_t now);
// The end-of-pass timers with the pass time `d` (ms): error hold-off, peak
// hold, temperature-log interval.
void SupervisorTimers(Works *works, uint64_t d);
// Counts the error hold-off down by `elapsedMs`, not below 0.
void CountDownTimers(Works *works, uint64_t elapsedMs);
// Idle minutes before the screen saver for setup index `idx` (0..4: 5, 10,
// 20, 30, 60); an index outside the table takes the first entry.
int SaveScreenMinutes(int idx);
