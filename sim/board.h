// Simulated power board: a pseudo-terminal whose slave is linked as
// <root>/dev/ttyAMA0, speaking the board's protocol (CRC-8 framed ASCII
// commands, one reply each) from a small physical model, with fault injection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tuner_model.h"

// The board's own state and the model around it. Change it through SimBoardSet.
struct SimBoardState {
    // identity and settings the controller writes
    char version[8] = "2.05.03";
    uint8_t ee[3][32] = {}; // EEPROM pages; page 2 byte 0 options, byte 1 power class
    int antenna = 1;        // 1-based, as on the wire
    int antInput = 0;
    bool pad3 = false, pad2 = false;
    bool bypass = true;
    bool protection = false;
    uint32_t tunerWord = 0;
    uint8_t filterMask = 0;
    int fanPercent = 0;
    int fanCommands = 0; // "FN" commands received
    int ts[4] = {4095, 4095, 1500, 3700};
    int ps[4] = {0, 0, 0, 0};
    int gm[2] = {0, 0};
    int fsMode = 0, fsValue = 0;
    char gs[11] = "0000000000";
    uint32_t freq = 14070000;
    bool microReset = true; // S2 bit 7 until "MR0;"
    bool loader = false;    // after "MR1;"

    // physical model
    float driveW = 0.0f; // drive power at the input
    float gain = 10.0f;  // small-signal power gain with the amplifier in line
    // Saturation: forward = gain x drive compressed smoothly towards satW
    // (0: no compression, forward = gain x drive at any drive).
    float satW = 0.0f;
    // Drive above which the board's input sensor trips (S2 bit 3; 0: never).
    float maxDriveW = 0.0f;
    float loadSwr = 1.2f; // the load seen by the amplifier (without the tuner model)
    // With the tuner model on, the SWR comes from the tuner network (the word
    // last received with "MT1") in front of `load` at `freq`.
    bool tunerModel = false;
    SimLoad load;
    // The tuner's parts: the built-in ones, or drawn within +-partsPct % from
    // partsSeed ("tolerance SEED"); partsSeed 0 is the built-in set.
    SimTunerParts parts = SimTunerBuiltInParts();
    uint64_t partsSeed = 0;
    float partsPct = 0.0f;
    // Noise on the reflected reading while transmitting ("noise SEED"):
    // Gaussian, reflNoiseCounts counts plus reflNoisePct % of the reading
    // (standard deviations), from its own generator; noiseSeed 0 is off.
    uint64_t noiseSeed = 0;
    uint64_t noiseState = 0;
    float reflNoiseCounts = 0.0f, reflNoisePct = 0.0f;
    float efficiency = 0.55f; // RF out / DC in, above the quiescent current
    float quiescentA = 1.0f;  // bias current while transmitting in line
    // The PA rail as the screen shows it (the panel micro's default reading).
    float supplyV = 13.6f;
    float ambient = 25.0f;
    float temp1 = 25.0f, temp2 = 25.0f;            // heat-sink sensors, degrees C
    float thermalTau = 0.0f;                       // seconds; 0 holds the temperatures as set
    float rth1 = 0.10f, rth2 = 0.08f;              // degrees per dissipated watt, fan off
    uint8_t trips = 0;                             // latched S2 trip bits, cleared by "CPFFFF;"
    bool swrTrip = false;                          // latched S1 bit 1, cleared by "CPFFFF;"
    float swrTripAt = 3.0f;                        // load SWR that trips with protection on
    uint8_t s0Extra = 0, s1Extra = 0, s2Extra = 0; // bits forced into the status
    // readings set by hand (a negative value leaves them to the model)
    float fwdW = -1.0f;  // forward power shown, watts
    float reflW = -1.0f; // reflected power shown, watts
    int auxRaw = -1;     // the raw supply-current reading (fifth field), 0..4095
    int hotStarts = 0;   // micro resets so far
    // detector calibration (from <root>/opt/set/config.txt when present)
    bool haveBands = false;
    std::vector<uint32_t> bandStart;
    std::vector<float> bandK[4];
};

// Faults for the next replies (each counter is used up one reply at a time).
struct SimBoardFaults {
    int silent = 0; // frames left unanswered
    int refuse = 0; // replies with `refuseChar` as third character
    char refuseChar = '?';
    int badCrc = 0;        // replies with a wrong CRC
    int lowerCrc = 0;      // replies with lower-case CRC digits
    int cut = 0;           // replies cut in the middle (the rest never comes)
    std::string cutOn;     // cut only replies to commands with these letters ("" any)
    bool hotStart = false; // micro reset before the next reply
    std::string garbage;   // bytes sent once before the next reply
};

struct SimFrame {
    std::string text; // the command text after the CRC digits
    bool crcOk;       // the two digits matched (lower case, as the controller sends)
    bool known;       // a command of the set, in its exact format
    uint64_t ms;      // arrival (NowMs)
    std::string reply;
};

struct SimBoard {
    std::mutex lock;
    SimBoardState st;
    SimBoardFaults faults;
    std::vector<SimFrame> frames;
    std::function<void(const SimFrame &)> onFrame; // called on the board thread
    uint64_t lastModelMs = 0;

    int master = -1, slave = -1;
    std::string linkPath, slavePath;
    std::thread thread;
    std::atomic<bool> stop{false};
};

// Opens the pseudo-terminal, links its slave as <root>/dev/ttyAMA0, reads the
// calibration from <root>/opt/set/config.txt and starts answering. 0 on success.
int SimBoardStart(SimBoard *board, const std::string &root);
void SimBoardStop(SimBoard *board);

// Changes state or faults under the board's lock.
void SimBoardSet(SimBoard *board, const std::function<void(SimBoardState &)> &fn);
void SimBoardFault(SimBoard *board, const std::function<void(SimBoardFaults &)> &fn);
std::vector<SimFrame> SimBoardFrames(SimBoard *board);
void SimBoardClearFrames(SimBoard *board);

// A micro reset: the board comes back on its power-on settings (filter,
// thresholds, fan, protection, bypass, pads, antenna, tuner word...) and shows
// S2 bit 7 until "MR0;"; the physical model and the frequency stay.
void SimBoardHotStart(SimBoardState &st);
// One line of the control input ("drive 50", "cut ST", "hotstart", ...; see
// SimBoardControlHelp). Returns the answer to print, starting "ok" or "error".
std::string SimBoardControl(SimBoard *board, const std::string &line);
// The control commands, one per line.
const char *SimBoardControlHelp();

// The protocol without transport: the reply text (no CRC) to one command text,
// updating the state; `now` drives the thermal model.
std::string SimBoardAnswer(SimBoardState &st, const std::string &cmd, uint64_t now,
                           uint64_t *lastModelMs);
// True when `cmd` is a command of the set in its exact format.
bool SimBoardKnownCommand(const std::string &cmd);
// "<CRC digits><text>", upper-case digits unless `lower`.
std::string SimBoardFrame(const std::string &text, bool lower);
// Forward power (W) the amplifier puts out now (drive, pads, gain,
// saturation, trips).
float SimBoardForward(const SimBoardState &st);
// The output of gain `gain` saturating at `satW` for `inW` at the input.
float SimAmplifierOut(float inW, float gain, float satW);
// Supply current (A) for forward power `fwdW` while transmitting in line.
float SimBoardCurrent(const SimBoardState &st, float fwdW);
// A plausible amplifier of power class `powerClass` ('1': 120 W, else
// 60 W): 10 dB of gain, saturating a tenth above the rated power, the input
// tripping above 1.5 times the rated power over the gain.
void SimBoardRated(SimBoardState &st, char powerClass);
// Coefficient K0..K3 (`type`) of the band that holds the board's frequency.
float SimBoardK(const SimBoardState &st, int type);
// Reflection coefficient magnitude of what the amplifier sees now.
double SimBoardReflection(const SimBoardState &st, uint32_t word);
// The SWR the controller computes from the board's raw readings for forward
// power `fwdW` and reflection `gamma` (the same quantisation and coefficients).
float SimBoardMeasuredSwr(const SimBoardState &st, float fwdW, double gamma);
// Raw detector reading that shows `watts` with coefficient `k` (v = sqrt(W / k)),
// limited to the converter's 0..4095.
int SimRawForWatts(float watts, float k);
// 12-bit thermistor reading for a temperature (10 kOhm divider).
int SimThermistorReading(float celsius);
