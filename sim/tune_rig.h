// The controller's power-board link and automatic tune in this process,
// against the simulated board's protocol and tuner model, exchange by
// exchange with a clock of its own (no waiting): for tests and the tune
// benchmark. The link writes to one end of a socket pair; the rig answers on
// the other with the board's replies.
#pragma once

#include "amplifier/linear.h"
#include "board.h"
#include "unit_record.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TuneRig {
    UnitRecord unit;
    SimBoardState board;
    uint64_t modelMs = 0;
    uint64_t now = 1000; // the rig's clock, ms
    int fds[2] = {-1, -1};
    LinearLink link;
    std::vector<std::string> sent; // command texts, in order
    // Called with each command text before the board answers it.
    std::function<void(TuneRig &, const std::string &)> onCommand;
    // Thread CPU time of the decode passes that ran a tune step (status
    // decoding included; the last step, which stores, left out), microseconds.
    double stepCpuUs = 0.0, stepCpuMaxUs = 0.0;
    int stepCount = 0;

    TuneRig();
    ~TuneRig();
    TuneRig(const TuneRig &) = delete;
    TuneRig &operator=(const TuneRig &) = delete;
    Works *w() { return unit.w(); }
};

// One exchange: the link sends its next command, the board answers, the link
// decodes the answer. The command text, or "" when nothing went out.
std::string TuneRigExchange(TuneRig *rig);

// How a tune ended.
enum class TuneOutcome { Success, State12, TimeOut, Stopped };
const char *TuneOutcomeName(TuneOutcome o);

struct TuneRunResult {
    TuneOutcome outcome = TuneOutcome::Stopped;
    int samples = 0;         // samples (and carrier waits) the tune counted
    int exchanges = 0;       // exchanges with the board from start to end
    float finalSwr = 0;      // the controller's SWR of the board's final word
    float bestSwr = 0;       // best SWR any word gives, same measurement chain
    uint32_t bestWord = 0;   // a word that gives it
    bool stored = false;     // the tuner memory holds the final word at the frequency
    bool wordIsBest = false; // the board's final word is the tune's reported best
    uint32_t finalWord = 0;
    double cpuUsPerStep = 0; // mean thread CPU time of a tune step, microseconds
    double cpuUsMax = 0;     // the longest one
};

// Starts a tune (StartAutotune) and exchanges until it ends or `maxExchanges`
// pass; then reads the final SWR with one more status. `exhaustive` also
// searches every word for the best SWR (both arrangements x 512 x 512, and
// through), with the forward power of the tune.
TuneRunResult TuneRigRun(TuneRig *rig, bool exhaustive, int maxExchanges = 20000);

// Best SWR over every tuner word at the board's frequency and forward power
// `fwdW`; the word that gives it in *word.
float TuneRigBestSwr(const SimBoardState &st, float fwdW, uint32_t *word);
