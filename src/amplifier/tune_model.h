// The tuner's L-network as the model search sees it: the nominal parts of the
// design file, each bank scaled by a fitted factor, in front of an unknown
// load. The load is fitted to the SWRs read so far; the network that matches
// the fitted load comes in closed form.
//
// For a lossless network the SWR a word reads is the hyperbolic distance (in
// the unit disc of reflection coefficients) between the load and the load
// that word matches: ln SWR = 2 artanh |Gamma_in|. The fit works in that
// measure, so a far reading is one more circle round its word's matched load
// rather than a number near 1.
#pragma once
#include "model/records.h"

#include <complex>
#include <cstdint>

using TuneCplx = std::complex<double>;

// Arrangements: capacitor on the transmitter side, on the antenna side, and
// the network out of circuit.
constexpr int kTuneArrTx = 0, kTuneArrAnt = 1, kTuneArrThrough = 2;
constexpr int kTuneStepTop = 511;
// ln 1000: readings and predictions are capped at SWR 1000.
constexpr double kTuneLogSwrCap = 6.907755278982137;

// The network at one frequency, from the design file.
struct TuneNet {
    double w;      // angular frequency, rad/s
    double lStep;  // H per inductor step
    double cStep;  // F per capacitor step
    double cStray; // F always present
    double q;      // coil Q
};

// The unknowns: the load as a point u of the plane (Gamma = u tanh|u| / |u|,
// so 2|u| is the load's own ln SWR) and the logs of the scales on L and C.
struct TuneFit {
    double u[2] = {0.0, 0.0};
    double lnSL = 0.0, lnSC = 0.0;
};

// A word read: its arrangement and steps, the mean ln SWR of its readings.
struct TuneReading {
    int arr, l, c;
    double d;
};

TuneNet TuneNetAt(const TunerDesign &design, double hz);
// The fitted load's reflection coefficient (against 50 ohm).
TuneCplx TuneLoadGamma(const TuneFit &f);
// ln SWR the model predicts for a word (steps may be fractional), at most
// kTuneLogSwrCap.
double TuneModelLogSwr(const TuneNet &n, const TuneFit &f, int arr, double l, double c);
// Closed form: the steps that match the fitted load in `arr`. False when no
// steps within 0..511 do (they are then clamped into that range).
bool TuneModelMatch(const TuneNet &n, const TuneFit &f, int arr, double *l, double *c);
// The word of `arr` the model predicts best: a pattern search on the steps
// from the closed-form point. Returns its predicted ln SWR.
double TuneModelBestWord(const TuneNet &n, const TuneFit &f, int arr, int *l, int *c);
// The load a word matches (coil loss left out), as the load of *f.
void TuneModelMatchedLoad(const TuneNet &n, const TuneFit &scales, int arr, int l, int c,
                          TuneFit *f);
// Weighted least squares (Levenberg-Marquardt) of the load, and of the scales
// when `scales`, from *f over `n` readings; high readings count less. Returns
// the weighted sum of squares.
double TuneModelFit(const TuneNet &net, const TuneReading *r, int n, bool scales, TuneFit *f);
