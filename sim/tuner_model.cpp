#include "tuner_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLight = 299792458.0;

// Word bit of each step bit: the board's relay wiring.
constexpr int kCWordBits[9] = {15, 2, 4, 6, 14, 12, 10, 8, 20};
constexpr int kLWordBits[9] = {1, 3, 5, 7, 13, 11, 9, 19, 21};
constexpr uint32_t kBitA = 1u << 18;
constexpr uint32_t kBitThrough = 1u << 16;

// The parts as built: nominal value times the tolerance of that part.
constexpr double kLUnit = 0.05e-6, kCUnit = 10e-12;
constexpr SimTunerParts kBuiltIn = {
    {1.031, 0.958, 1.017, 0.975, 1.046, 0.992, 1.029, 0.963, 1.012},
    {0.966, 1.038, 0.981, 1.044, 0.957, 1.023, 0.989, 1.035, 0.971}};
constexpr double kLQ[9] = {190, 175, 160, 150, 140, 130, 120, 110, 100};
constexpr double kLShortLead = 4e-9; // a shorted coil's relay and leads
constexpr double kCLead = 5e-9;      // in series with each switched capacitor
constexpr double kCOpen = 1e-12;     // across an open capacitor relay
constexpr double kCWiring = 10e-12;  // the bank's wiring to ground

int Gather(uint32_t word, const int (&bits)[9]) {
    int v = 0;
    for (int i = 0; i < 9; i++)
        if (word & (1u << bits[i])) v |= 1 << i;
    return v;
}

uint32_t Spread(int step, const int (&bits)[9]) {
    uint32_t word = 0;
    for (int i = 0; i < 9; i++)
        if (step & (1 << i)) word |= 1u << bits[i];
    return word;
}

// splitmix64: small, and the same numbers everywhere.
uint64_t NextRandom(uint64_t *s) {
    uint64_t z = (*s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Uniform(uint64_t *s) {
    return static_cast<double>(NextRandom(s) >> 11) * (1.0 / 9007199254740992.0);
}

Cplx InductorBank(int step, double w, const SimTunerParts &p) {
    Cplx z = 0.0;
    for (int i = 0; i < 9; i++) {
        if (step & (1 << i)) {
            double l = kLUnit * (1 << i) * p.lTol[i];
            z += Cplx(w * l / kLQ[i], w * l);
        } else {
            z += Cplx(0.0, w * kLShortLead);
        }
    }
    return z;
}

Cplx CapacitorBankAdmittance(int step, double w, const SimTunerParts &p) {
    Cplx y(0.0, w * kCWiring);
    for (int i = 0; i < 9; i++) {
        if (step & (1 << i)) {
            double c = kCUnit * (1 << i) * p.cTol[i];
            y += 1.0 / Cplx(0.0, w * kCLead - 1.0 / (w * c));
        } else {
            y += Cplx(0.0, w * kCOpen);
        }
    }
    return y;
}

Cplx Inverse(Cplx z) {
    if (std::abs(z) < 1e-12) z = 1e-12;
    return 1.0 / z;
}

// A wire of `len` metres fed at one end against ground or a counterpoise
// (or one half of a dipole): reactance of an open line of impedance `z0`,
// radiation resistance 36.5 ohm at the quarter-wave resonance, rising as the
// fourth power of the length below it (a short monopole's (kl)^2 at the
// base) and to about 1.6 kohm at the half-wave (end-fed) resonance.
Cplx Wire(double hz, double len, double z0) {
    double kl = 2.0 * kPi * hz * len / (0.95 * kLight);
    double s = std::sin(kl), c = std::cos(kl);
    double rel = kl / (kPi / 2.0);
    double g = kl <= kPi / 2.0 ? std::pow(rel, 4.0) : std::min(rel * rel, 4.0);
    double r = 36.5 * 1.1 * g / (s * s + 0.1);
    double x = -z0 * s * c / (s * s + 0.02);
    return {r, x};
}

// `zl` seen through `len` metres of 50 ohm coaxial cable (velocity factor
// 0.66, 1.5 dB per 100 m at 10 MHz, rising with the square root of frequency).
Cplx ThroughCoax(Cplx zl, double hz, double len) {
    const double z0 = 50.0;
    double alpha = 0.015 * std::sqrt(hz / 10e6) / 8.686; // nepers per metre
    double beta = 2.0 * kPi * hz / (0.66 * kLight);
    Cplx t = std::tanh(Cplx(alpha, beta) * len);
    return z0 * (zl + z0 * t) / (z0 + zl * t);
}

struct Named {
    const char *name;
    SimLoadKind kind;
};
constexpr Named kNamed[] = {
    {"vertical", SimLoadKind::Vertical},      {"dipole", SimLoadKind::Dipole},
    {"dipole-coax", SimLoadKind::DipoleCoax}, {"endfed", SimLoadKind::EndFed},
    {"nomatch", SimLoadKind::NoMatch},
};

} // namespace

bool SimLoadParse(const std::string &text, SimLoad *load) {
    std::istringstream in(text);
    std::string a, b, extra;
    in >> a >> b >> extra;
    if (a.empty() || !extra.empty()) return false;
    for (const Named &n : kNamed)
        if (a == n.name && b.empty()) {
            *load = SimLoad{n.kind, 0.0, 0.0};
            return true;
        }
    char *end = nullptr;
    double r = std::strtod(a.c_str(), &end);
    if (end == a.c_str() || *end != '\0' || !(r >= 0.0) || r > 1e6) return false;
    double x = 0.0;
    if (!b.empty()) {
        x = std::strtod(b.c_str(), &end);
        if (end == b.c_str() || *end != '\0' || !(std::fabs(x) <= 1e6)) return false;
    }
    *load = SimLoad{SimLoadKind::Fixed, r, x};
    return true;
}

std::string SimLoadName(const SimLoad &load) {
    for (const Named &n : kNamed)
        if (load.kind == n.kind) return n.name;
    char out[64];
    std::snprintf(out, sizeof out, "%g%sj%g", load.r, load.x < 0 ? "-" : "+", std::fabs(load.x));
    return out;
}

const char *SimLoadNames() {
    return "vertical dipole dipole-coax endfed nomatch";
}

Cplx SimLoadImpedance(const SimLoad &load, double hz) {
    switch (load.kind) {
    case SimLoadKind::Fixed:
        return {load.r, load.x};
    case SimLoadKind::Vertical: // 4 m whip, 10 ohm of ground loss
        return Wire(hz, 4.0, 400.0) + 10.0;
    case SimLoadKind::Dipole: // 2 x 5 m, resonant near 14.2 MHz
        return 2.0 * Wire(hz, 5.0, 500.0) + 2.0;
    case SimLoadKind::DipoleCoax:
        return ThroughCoax(2.0 * Wire(hz, 5.0, 500.0) + 2.0, hz, 20.0);
    case SimLoadKind::EndFed: // 20 m wire against a counterpoise
        return Wire(hz, 20.0, 450.0) + 20.0;
    case SimLoadKind::NoMatch:
        // 100 kohm: matching it needs 2.2 kohm of reactance in both elements,
        // which the inductor bank reaches only above 14 MHz and the
        // capacitor bank (19 pF at least) only below 3.8 MHz.
        return {100000.0, 0.0};
    }
    return {50.0, 0.0};
}

const SimTunerParts &SimTunerBuiltInParts() {
    return kBuiltIn;
}

SimTunerParts SimTunerPartsDrawn(uint64_t seed, double pct) {
    SimTunerParts p{};
    uint64_t s = seed;
    for (int i = 0; i < 9; i++) {
        p.lTol[i] = 1.0 + pct / 100.0 * (2.0 * Uniform(&s) - 1.0);
        p.cTol[i] = 1.0 + pct / 100.0 * (2.0 * Uniform(&s) - 1.0);
    }
    return p;
}

double SimGauss(uint64_t *state) {
    // Box-Muller; u1 kept away from 0.
    double u1 = (static_cast<double>(NextRandom(state) >> 11) + 1.0) / 9007199254740993.0;
    double u2 = Uniform(state);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

double SimTunerL(int step, const SimTunerParts &p) {
    double l = 0.0;
    for (int i = 0; i < 9; i++)
        l += (step & (1 << i)) ? kLUnit * (1 << i) * p.lTol[i] : kLShortLead;
    return l;
}

double SimTunerC(int step, const SimTunerParts &p) {
    double c = kCWiring;
    for (int i = 0; i < 9; i++)
        c += (step & (1 << i)) ? kCUnit * (1 << i) * p.cTol[i] : kCOpen;
    return c;
}

Cplx SimTunerSeriesZ(int step, double hz, const SimTunerParts &p) {
    return InductorBank(step, 2.0 * kPi * hz, p);
}

Cplx SimTunerShuntY(int step, double hz, const SimTunerParts &p) {
    return CapacitorBankAdmittance(step, 2.0 * kPi * hz, p);
}

Cplx SimTunerNetwork(bool antennaSide, Cplx zl, Cplx yc, Cplx zLoad) {
    if (antennaSide) return zl + Inverse(yc + Inverse(zLoad));
    return Inverse(yc + Inverse(zl + zLoad));
}

bool SimTunerAntennaSide(uint32_t word) {
    return (word & kBitA) != 0;
}

Cplx SimTunerInput(uint32_t word, Cplx zLoad, double hz, const SimTunerParts &p) {
    if (word & kBitThrough) return zLoad;
    return SimTunerNetwork((word & kBitA) != 0, SimTunerSeriesZ(Gather(word, kLWordBits), hz, p),
                           SimTunerShuntY(Gather(word, kCWordBits), hz, p), zLoad);
}

double SimReflection(Cplx z) {
    return std::abs((z - 50.0) / (z + 50.0));
}

uint32_t SimTunerWordC(int step) {
    return Spread(step, kCWordBits);
}

uint32_t SimTunerWordL(int step) {
    return Spread(step, kLWordBits);
}

int SimTunerWordCOf(uint32_t word) {
    return Gather(word, kCWordBits);
}

int SimTunerWordLOf(uint32_t word) {
    return Gather(word, kLWordBits);
}
