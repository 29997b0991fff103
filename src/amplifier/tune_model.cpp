#include "amplifier/tune_model.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kZ0 = 50.0;
// The load stays inside SWR e^9 (|u| 4.5); the scales within about +-40 %.
constexpr double kUMax = 4.5;
constexpr double kLnScaleMax = 0.35;
// A priori the scales are 1 within about 30 %: enough to keep them in place
// while the readings say little about them.
constexpr double kScalePrior = 0.3;
constexpr int kParMax = 4;
constexpr double kWeightSwr = 20.0;

double LogSwr(double rho) {
    if (!(rho < 0.998)) return kTuneLogSwrCap;
    return std::log((1.0 + rho) / (1.0 - rho));
}

// 1 / z without the library's guarded complex division (the network's
// impedances are never near overflow); z = 0 is taken as a tiny value.
TuneCplx Inv(TuneCplx z) {
    double n = z.real() * z.real() + z.imag() * z.imag();
    if (n < 1e-30) return {1e15, 0.0};
    return {z.real() / n, -z.imag() / n};
}

// A fit made ready for many words: the load's impedance and the scales.
struct Prepared {
    TuneCplx zl;
    double sl, sc;   // ohm per inductor step, siemens per farad
    double dThrough; // the load's own ln SWR, for through readings
};

Prepared Prepare(const TuneNet &n, const TuneFit &f) {
    TuneCplx g = TuneLoadGamma(f);
    Prepared p;
    p.zl = kZ0 * (1.0 + g) * Inv(1.0 - g);
    p.sl = n.w * std::exp(f.lnSL) * n.lStep;
    p.sc = n.w * std::exp(f.lnSC);
    p.dThrough = std::min(2.0 * std::sqrt(f.u[0] * f.u[0] + f.u[1] * f.u[1]), kTuneLogSwrCap);
    return p;
}

double LogSwrOf(const TuneNet &n, const Prepared &p, int arr, double l, double c) {
    if (arr == kTuneArrThrough) return p.dThrough;
    double xl = p.sl * l;
    TuneCplx zs(xl / n.q, xl), yc(0.0, p.sc * (n.cStray + c * n.cStep));
    TuneCplx zin = arr == kTuneArrTx ? Inv(yc + Inv(p.zl + zs)) : zs + Inv(yc + Inv(p.zl));
    TuneCplx a = zin - kZ0, b = zin + kZ0;
    return LogSwr(std::sqrt(std::norm(a) / std::norm(b)));
}

// A reading's weight: its ln SWR is only as sure as the reflected reading's
// distance from the forward one, so high readings count less, in proportion
// to the SWR (the spread of ln SWR that a relative error of the reflected
// power gives grows as SWR / 4). The through reading has no network in it:
// the surest of all.
double ResidualWeight(const TuneReading &r) {
    return (r.arr == kTuneArrThrough ? 3.0 : 1.0) / (0.5 + r.d + std::exp(r.d) / kWeightSwr);
}

// The weighted residuals of the readings (and the scales' prior); their count.
int Residuals(const TuneNet &net, const TuneReading *r, const double *wt, int n, bool scales,
              const TuneFit &f, double *out) {
    Prepared p = Prepare(net, f);
    int k = 0;
    for (int i = 0; i < n; i++) {
        double diff = LogSwrOf(net, p, r[i].arr, r[i].l, r[i].c) - r[i].d;
        // A capped reading only says "at least the cap".
        if (r[i].d >= kTuneLogSwrCap - 1e-9 && diff > 0.0) diff = 0.0;
        out[k++] = wt[i] * diff;
    }
    if (scales) {
        out[k++] = f.lnSL / kScalePrior;
        out[k++] = f.lnSC / kScalePrior;
    }
    return k;
}

double Cost(const double *res, int m) {
    double s = 0.0;
    for (int i = 0; i < m; i++)
        s += res[i] * res[i];
    return s;
}

void ToParams(const TuneFit &f, double *p) {
    p[0] = f.u[0];
    p[1] = f.u[1];
    p[2] = f.lnSL;
    p[3] = f.lnSC;
}

TuneFit FromParams(const double *p, int np, const TuneFit &base) {
    TuneFit f = base;
    double r = std::hypot(p[0], p[1]);
    double k = r > kUMax ? kUMax / r : 1.0;
    f.u[0] = p[0] * k;
    f.u[1] = p[1] * k;
    if (np == 4) {
        f.lnSL = std::clamp(p[2], -kLnScaleMax, kLnScaleMax);
        f.lnSC = std::clamp(p[3], -kLnScaleMax, kLnScaleMax);
    }
    return f;
}

// Solves a x = b (np x np, symmetric positive definite with damping) by
// Gaussian elimination with partial pivoting; false when singular.
bool Solve(double a[kParMax][kParMax], double *b, int np, double *x) {
    for (int i = 0; i < np; i++) {
        int piv = i;
        for (int r = i + 1; r < np; r++)
            if (std::fabs(a[r][i]) > std::fabs(a[piv][i])) piv = r;
        if (std::fabs(a[piv][i]) < 1e-300) return false;
        if (piv != i) {
            std::swap(a[piv], a[i]);
            std::swap(b[piv], b[i]);
        }
        for (int r = i + 1; r < np; r++) {
            double m = a[r][i] / a[i][i];
            for (int c = i; c < np; c++)
                a[r][c] -= m * a[i][c];
            b[r] -= m * b[i];
        }
    }
    for (int i = np - 1; i >= 0; i--) {
        double s = b[i];
        for (int c = i + 1; c < np; c++)
            s -= a[i][c] * x[c];
        x[i] = s / a[i][i];
    }
    return true;
}

} // namespace

TuneNet TuneNetAt(const TunerDesign &d, double hz) {
    return TuneNet{2.0 * kPi * hz, d.lStepNH * 1e-9, d.cStepPF * 1e-12, d.cStrayPF * 1e-12,
                   d.coilQ};
}

TuneCplx TuneLoadGamma(const TuneFit &f) {
    double r = std::hypot(f.u[0], f.u[1]);
    double k = r < 1e-12 ? 1.0 : std::tanh(r) / r;
    return {f.u[0] * k, f.u[1] * k};
}

double TuneModelLogSwr(const TuneNet &n, const TuneFit &f, int arr, double l, double c) {
    return LogSwrOf(n, Prepare(n, f), arr, l, c);
}

bool TuneModelMatch(const TuneNet &n, const TuneFit &f, int arr, double *l, double *c) {
    Prepared p = Prepare(n, f);
    TuneCplx zl = p.zl;
    double sl = p.sl, sc = p.sc;
    double lOhm = 0.0, cMho = 0.0; // the reactance and susceptance wanted
    bool ok = true;
    if (arr == kTuneArrTx) {
        // Series coil brings the load to R + jXt with |1/(R + jXt)| on the
        // 1/50 circle; the shunt capacitor then cancels the susceptance.
        double r = zl.real();
        for (int pass = 0; pass < 2; pass++) {
            double rr = r + lOhm / n.q;
            if (rr >= kZ0) {
                ok = false;
                rr = kZ0 * 0.999;
            }
            double xt = std::sqrt(rr * (kZ0 - rr));
            lOhm = xt - zl.imag();
            cMho = xt / (kZ0 * rr);
            if (lOhm < 0.0) {
                ok = false;
                lOhm = 0.0;
            }
        }
    } else {
        // Shunt capacitor brings the admittance to G + jBt on the 50 ohm
        // circle; the series coil cancels the reactance.
        TuneCplx y = Inv(zl);
        double g = y.real();
        if (g >= 1.0 / kZ0) {
            ok = false;
            g = 0.999 / kZ0;
        }
        double bt = std::sqrt(g / kZ0 - g * g);
        cMho = bt - y.imag();
        lOhm = kZ0 * bt / g;
        if (cMho < 0.0) {
            ok = false;
            cMho = 0.0;
        }
    }
    *l = lOhm / sl;
    *c = (cMho / sc - n.cStray) / n.cStep;
    if (*l > kTuneStepTop || *c < 0.0 || *c > kTuneStepTop) ok = false;
    *l = std::clamp(*l, 0.0, static_cast<double>(kTuneStepTop));
    *c = std::clamp(*c, 0.0, static_cast<double>(kTuneStepTop));
    return ok;
}

double TuneModelBestWord(const TuneNet &n, const TuneFit &f, int arr, int *lOut, int *cOut) {
    double lf, cf;
    bool ok = TuneModelMatch(n, f, arr, &lf, &cf);
    int l = static_cast<int>(std::lround(lf)), c = static_cast<int>(std::lround(cf));
    Prepared p = Prepare(n, f);
    double best = LogSwrOf(n, p, arr, l, c);
    if (!ok) {
        // Where no steps match, the best lies on an edge of the banks' range:
        // along each edge, every step (the dip of a far load is narrow).
        for (int k = 0; k <= kTuneStepTop; k++) {
            const int edge[4][2] = {{k, 0}, {k, kTuneStepTop}, {0, k}, {kTuneStepTop, k}};
            for (const auto &e : edge) {
                double d = LogSwrOf(n, p, arr, e[0], e[1]);
                if (d < best) {
                    best = d;
                    l = e[0];
                    c = e[1];
                }
            }
        }
    }
    for (int step = 4; step >= 1; step /= 2) {
        for (bool moved = true; moved;) {
            moved = false;
            int bl = l, bc = c;
            for (int dl = -1; dl <= 1; dl++)
                for (int dc = -1; dc <= 1; dc++) {
                    int tl = l + dl * step, tc = c + dc * step;
                    if ((dl == 0 && dc == 0) || tl < 0 || tc < 0 || tl > kTuneStepTop ||
                        tc > kTuneStepTop)
                        continue;
                    double d = LogSwrOf(n, p, arr, tl, tc);
                    if (d < best - 1e-12) {
                        best = d;
                        bl = tl;
                        bc = tc;
                    }
                }
            if (bl != l || bc != c) {
                l = bl;
                c = bc;
                moved = true;
            }
        }
    }
    *lOut = l;
    *cOut = c;
    return best;
}

void TuneModelMatchedLoad(const TuneNet &n, const TuneFit &scales, int arr, int l, int c,
                          TuneFit *f) {
    Prepared p = Prepare(n, scales);
    TuneCplx zs(0.0, p.sl * l), yc(0.0, p.sc * (n.cStray + c * n.cStep));
    // Looking back from the load into the network fed by 50 ohm; the load
    // that word matches is its conjugate.
    TuneCplx back = arr == kTuneArrTx ? zs + Inv(1.0 / kZ0 + yc) : Inv(yc + Inv(kZ0 + zs));
    TuneCplx zm = std::conj(back);
    TuneCplx g = (zm - kZ0) / (zm + kZ0);
    double r = std::abs(g);
    double u = std::atanh(std::min(r, std::tanh(kUMax)));
    *f = scales;
    f->u[0] = r < 1e-12 ? 0.0 : g.real() / r * u;
    f->u[1] = r < 1e-12 ? 0.0 : g.imag() / r * u;
}

double TuneModelFit(const TuneNet &net, const TuneReading *r, int n, bool scales, TuneFit *f) {
    constexpr int kResMax = 260;
    if (n <= 0) return 0.0;
    n = std::min(n, kResMax - 2);
    const int np = scales ? 4 : 2;
    double p[kParMax], res[kResMax], trial[kResMax];
    double jac[kParMax][kResMax], wt[kResMax];
    for (int i = 0; i < n; i++)
        wt[i] = ResidualWeight(r[i]);
    ToParams(*f, p);
    TuneFit cur = FromParams(p, np, *f);
    ToParams(cur, p);
    int m = Residuals(net, r, wt, n, scales, cur, res);
    double cost = Cost(res, m);
    double lambda = 1e-3;
    for (int it = 0; it < 30; it++) {
        // Jacobian by forward differences.
        for (int j = 0; j < np; j++) {
            double q[kParMax];
            std::copy(p, p + kParMax, q);
            const double h = 1e-6;
            q[j] += h;
            Residuals(net, r, wt, n, scales, FromParams(q, np, cur), trial);
            for (int i = 0; i < m; i++)
                jac[j][i] = (trial[i] - res[i]) / h;
        }
        double jtj[kParMax][kParMax] = {}, jtr[kParMax] = {};
        for (int a = 0; a < np; a++) {
            for (int b = a; b < np; b++) {
                double s = 0.0;
                for (int i = 0; i < m; i++)
                    s += jac[a][i] * jac[b][i];
                jtj[a][b] = jtj[b][a] = s;
            }
            double s = 0.0;
            for (int i = 0; i < m; i++)
                s += jac[a][i] * res[i];
            jtr[a] = -s;
        }
        bool improved = false;
        for (int tries = 0; tries < 8 && !improved; tries++) {
            double a[kParMax][kParMax], b[kParMax], dx[kParMax];
            for (int i = 0; i < np; i++) {
                for (int j = 0; j < np; j++)
                    a[i][j] = jtj[i][j];
                a[i][i] += lambda * (jtj[i][i] + 1e-9);
                b[i] = jtr[i];
            }
            if (!Solve(a, b, np, dx)) {
                lambda *= 10.0;
                continue;
            }
            double q[kParMax];
            std::copy(p, p + kParMax, q);
            for (int i = 0; i < np; i++)
                q[i] += dx[i];
            TuneFit next = FromParams(q, np, cur);
            Residuals(net, r, wt, n, scales, next, trial);
            double c2 = Cost(trial, m);
            if (c2 < cost) {
                double gain = cost - c2;
                cur = next;
                ToParams(cur, p);
                std::copy(trial, trial + m, res);
                cost = c2;
                lambda = std::max(lambda / 4.0, 1e-7);
                improved = true;
                if (gain < 1e-10 * (1.0 + cost)) it = 1000;
            } else {
                lambda *= 4.0;
            }
        }
        if (!improved) break;
    }
    *f = cur;
    return cost;
}
