// The simulated unit's tuner and antenna: an L-network of relay-switched
// inductors and capacitors in front of a load impedance, decoded from the
// relay word with the board's own bit table.
//
// Assumptions of the model:
// - inductor bank: nine coils in series, bit i nominally 0.05 uH x 2^i, each
//   within +-5 % of nominal (fixed per bit, so the steps are not perfectly
//   monotone) and with a Q of 100..200; a coil whose bit is clear is shorted
//   by its relay, which leaves 4 nH of lead;
// - capacitor bank: nine capacitors in parallel, bit i nominally 10 pF x 2^i
//   within +-5 %, each in series with 5 nH of relay lead; an open relay leaves
//   1 pF across it, and the bank has 10 pF of wiring to ground;
// - arrangement "B" (word bit 23, and any word without bit 18) puts the
//   capacitor on the transmitter side (shunt C, then series L to the load):
//   it matches loads below 50 ohm; arrangement "A" (bit 18) puts it on the
//   antenna side (series L, then shunt C across the load): loads above 50 ohm;
// - the through bit (16) connects the load directly.
#pragma once
#include <complex>
#include <cstdint>
#include <string>

using Cplx = std::complex<double>;

// A load: a fixed impedance, or one of the antennas (frequency-dependent).
enum class SimLoadKind { Fixed, Vertical, Dipole, DipoleCoax, EndFed, NoMatch };

struct SimLoad {
    SimLoadKind kind = SimLoadKind::Fixed;
    double r = 50.0, x = 0.0; // ohms, for a fixed load
};

// Parses "R X" (ohms; X may be left out) or an antenna's name; false if neither.
bool SimLoadParse(const std::string &text, SimLoad *load);
// "12.5+j0", "vertical", ...
std::string SimLoadName(const SimLoad &load);
// The names of the antenna models, blank-separated.
const char *SimLoadNames();
// The load's impedance at `hz`.
Cplx SimLoadImpedance(const SimLoad &load, double hz);

// The parts as built: each bit's factor on its nominal coil and capacitor.
struct SimTunerParts {
    double lTol[9], cTol[9];
};
// The unit's own parts (fixed, each within +-5 %).
const SimTunerParts &SimTunerBuiltInParts();
// Parts drawn uniformly within +-pct % of nominal from `seed`: the same seed
// gives the same parts on every machine.
SimTunerParts SimTunerPartsDrawn(uint64_t seed, double pct);
// A standard normal number from the generator state `*state` (advanced).
double SimGauss(uint64_t *state);

// Inductance (H) and capacitance (F) of the banks' steps 0..511, as built.
double SimTunerL(int step, const SimTunerParts &parts = SimTunerBuiltInParts());
double SimTunerC(int step, const SimTunerParts &parts = SimTunerBuiltInParts());
// The inductor bank's impedance and the capacitor bank's admittance of a step
// at `hz`, and the network's input impedance made of them (`antennaSide`: the
// capacitor across the load, else at the input).
Cplx SimTunerSeriesZ(int step, double hz, const SimTunerParts &parts);
Cplx SimTunerShuntY(int step, double hz, const SimTunerParts &parts);
Cplx SimTunerNetwork(bool antennaSide, Cplx zSeries, Cplx yShunt, Cplx zLoad);
// Input impedance of the tuner with `word` in front of `zLoad` at `hz`.
Cplx SimTunerInput(uint32_t word, Cplx zLoad, double hz,
                   const SimTunerParts &parts = SimTunerBuiltInParts());
// Reflection coefficient magnitude against 50 ohm.
double SimReflection(Cplx z);
// The arrangement of a word: true for the capacitor on the antenna side (bit 18).
bool SimTunerAntennaSide(uint32_t word);
// The board's word bits of a capacitor / inductor step (its own table).
uint32_t SimTunerWordC(int step);
uint32_t SimTunerWordL(int step);
// The steps of a word.
int SimTunerWordCOf(uint32_t word);
int SimTunerWordLOf(uint32_t word);
