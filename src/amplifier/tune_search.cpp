#include "amplifier/tune_search.h"

#include "amplifier/tune.h"
#include "amplifier/tune_model.h"
#include "model/tuner_word.h"
#include "model/works.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kWordsMax = 128;
constexpr int kQueueMax = 40;
// Never more samples than this, the re-reads of the end included.
constexpr int kSampleBudget = 96;
constexpr int kFinalReads = 3;
constexpr int kConfirmations = 3;
constexpr int kModelReadsMax = 30;
constexpr int kSpreadWords = 9;
constexpr int kCircleStarts = 6;
// The first words match loads of SWR e^0.6 to e^1.6 (1.8 to 5).
constexpr double kSpreadMinU = 0.3, kSpreadMaxU = 0.8;
// From this many words read the fit also takes the scales of L and C.
constexpr int kScaleFitFrom = 14;
// Line searches only when the best word read is above SWR 1.1.
const double kLineSearchAbove = std::log(1.1);
// Ring words the model predicts this much (ln SWR) above the best read are
// not read.
constexpr double kRingMargin = 0.25;
constexpr int kDropoutsMax = 3;
constexpr uint32_t kModeBits = kTunerModeCL | kTunerModeLC | kTunerModeThrough;

// tuneStep while the search runs (kTuneLCoarse, the tune's first sample, starts it).
enum Phase {
    kStart = kTuneLCoarse,
    kFirst = 19,
    kThrough,
    kSpread,
    kModel,
    kRing1,
    kRing2,
    kLines,
    kFinal
};

struct Word {
    int arr, l, c;
    double sumD;
    int n;
    float fwd; // forward power of the last reading
    double mean() const { return sumD / n; }
};

struct Probe {
    int arr, l, c;
};

// One line search: the steps of one element walked with the other fixed.
struct Line {
    bool active;
    int arr;
    bool axisL; // the coil's steps walked (else the capacitor's)
    int fixed;  // the other element's step
    int cur;    // the best position so far (-1 before the start is read)
    double fCur;
    int pending; // the position to read next
    int dir, step;
};

struct Search {
    TuneNet net;
    TuneFit fit;
    bool fitted;
    uint32_t arrBit[3]; // the word's mode bits of each arrangement
    Word words[kWordsMax];
    int nWords;
    Probe queue[kQueueMax];
    int qHead, qLen;
    int confirmations, dropouts, modelReads;
    int ring1Centre, ring2Centre; // words the rings were last queued round
    Line line;                    // the line search under way
    int lineNo;                   // lines begun
    int finalWords[kFinalReads];
    int nFinal;
    bool debug; // a trace line per sample and per fit
};

Search gS;

int Find(int arr, int l, int c) {
    for (int i = 0; i < gS.nWords; i++)
        if (gS.words[i].arr == arr && gS.words[i].l == l && gS.words[i].c == c) return i;
    return -1;
}

bool Queued(const Probe &p) {
    for (int i = 0; i < gS.qLen; i++) {
        const Probe &q = gS.queue[(gS.qHead + i) % kQueueMax];
        if (q.arr == p.arr && q.l == p.l && q.c == p.c) return true;
    }
    return false;
}

bool InRange(int l, int c) {
    return l >= 0 && c >= 0 && l <= kTuneStepTop && c <= kTuneStepTop;
}

void Push(const Probe &p) {
    if (gS.qLen >= kQueueMax) return;
    gS.queue[(gS.qHead + gS.qLen) % kQueueMax] = p;
    gS.qLen++;
}

Probe Pop() {
    Probe p = gS.queue[gS.qHead];
    gS.qHead = (gS.qHead + 1) % kQueueMax;
    gS.qLen--;
    return p;
}

// The network word read with the lowest mean, -1 when none.
int Best() {
    int b = -1;
    for (int i = 0; i < gS.nWords; i++)
        if (gS.words[i].arr != kTuneArrThrough &&
            (b < 0 || gS.words[i].mean() < gS.words[b].mean()))
            b = i;
    return b;
}

int ArrOf(const Search &s, uint32_t word) {
    if (word & kTunerModeThrough) return kTuneArrThrough;
    return (word & s.arrBit[kTuneArrTx]) ? kTuneArrTx : kTuneArrAnt;
}

void Put(Works *w, const Probe &p) {
    w->tunerWord = (w->tunerWord.load() & ~kModeBits) | gS.arrBit[p.arr];
    w->tuneC = p.c;
    SetC(w, p.c);
    w->tuneL = p.l;
    SetI(w, p.l);
}

void Begin(Works *w) {
    gS = Search{};
    const TunerDesign &d = w->tunerDesign;
    double hz = w->freq.load() > 0 ? static_cast<double>(w->freq.load()) : 14.0e6;
    gS.net = TuneNetAt(d, hz);
    gS.arrBit[kTuneArrTx] = d.txSideBit == 18 ? kTunerModeLC : kTunerModeCL;
    gS.arrBit[kTuneArrAnt] = d.txSideBit == 18 ? kTunerModeCL : kTunerModeLC;
    gS.arrBit[kTuneArrThrough] = kTunerModeThrough;
    gS.ring1Centre = gS.ring2Centre = -1;
    gS.debug = w->tuneDebug.load() != 0;
    Trace("--------- TUNE SEARCH: model, %.3f MHz\n", hz / 1e6);
}

void Record(int arr, int l, int c, double d, float fwd) {
    int i = Find(arr, l, c);
    if (i < 0) {
        if (gS.nWords >= kWordsMax) return;
        i = gS.nWords++;
        gS.words[i] = Word{arr, l, c, 0.0, 0, fwd};
    }
    gS.words[i].sumD += d;
    gS.words[i].n++;
    gS.words[i].fwd = fwd;
}

// ln SWR from the forward and reflected powers, capped at SWR 1000 (far from
// a match the displayed SWR is 100 everywhere).
double LogSwrOf(float fwd, float refl) {
    double rho = std::sqrt(std::max(0.0, static_cast<double>(refl) / fwd));
    if (!(rho < 0.998)) return kTuneLogSwrCap;
    return std::log((1.0 + rho) / (1.0 - rho));
}

float ShownSwr(double d) {
    return static_cast<float>(std::min(std::exp(d), 100.0));
}

// The 9 first words: the words that match loads spread round the circle the
// through reading puts the load on (both arrangements, whichever matches).
// For a far load the circle is drawn in: a word reads below the cap only when
// the load it matches lies in a disc touching the far load's point of the
// unit circle, which loads of SWR 5 or so reach from every side.
void QueueSpread() {
    int t = Find(kTuneArrThrough, 0, 0);
    double r = t >= 0 ? gS.words[t].mean() / 2.0 : 0.5;
    r = std::clamp(r, kSpreadMinU, kSpreadMaxU);
    for (int k = 0; k < kSpreadWords; k++) {
        double a = 2.0 * std::numbers::pi * (k + 0.5) / kSpreadWords;
        TuneFit f;
        f.u[0] = r * std::cos(a);
        f.u[1] = r * std::sin(a);
        Probe best{};
        double bestD = 1e9;
        for (int arr : {kTuneArrTx, kTuneArrAnt}) {
            int l, c;
            double d = TuneModelBestWord(gS.net, f, arr, &l, &c);
            if (d < bestD) {
                bestD = d;
                best = Probe{arr, l, c};
            }
        }
        if (Find(best.arr, best.l, best.c) < 0 && !Queued(best)) Push(best);
    }
}

// Fits the load (and the scales) to every word read: from the last fit and
// from the loads the best words match.
void Fit() {
    TuneReading rd[kWordsMax];
    int n = 0;
    for (int i = 0; i < gS.nWords; i++)
        rd[n++] = TuneReading{gS.words[i].arr, gS.words[i].l, gS.words[i].c, gS.words[i].mean()};
    bool scales = n >= kScaleFitFrom;
    TuneFit starts[4 + kCircleStarts];
    int ns = 0;
    if (gS.fitted) starts[ns++] = gS.fit;
    // The loads the two best words match, on the circle of the through reading.
    int t = Find(kTuneArrThrough, 0, 0);
    int order[kWordsMax];
    int no = 0;
    for (int i = 0; i < gS.nWords; i++)
        if (gS.words[i].arr != kTuneArrThrough) order[no++] = i;
    std::partial_sort(order, order + std::min(no, 2), order + no,
                      [](int a, int b) { return gS.words[a].mean() < gS.words[b].mean(); });
    for (int k = 0; k < std::min(no, 2); k++) {
        const Word &wd = gS.words[order[k]];
        TuneFit f;
        TuneModelMatchedLoad(gS.net, gS.fitted ? gS.fit : TuneFit{}, wd.arr, wd.l, wd.c, &f);
        if (t >= 0 && !gS.fitted) {
            double r = std::hypot(f.u[0], f.u[1]), want = gS.words[t].mean() / 2.0;
            if (r > 1e-9) {
                f.u[0] *= want / r;
                f.u[1] *= want / r;
            }
        }
        starts[ns++] = f;
    }
    // And a few loads round that circle: far loads leave the fit more than
    // one place to settle.
    if (t >= 0)
        for (int k = 0; k < kCircleStarts; k++) {
            double a = 2.0 * std::numbers::pi * k / kCircleStarts, r = gS.words[t].mean() / 2.0;
            TuneFit f = gS.fitted ? gS.fit : TuneFit{};
            f.u[0] = r * std::cos(a);
            f.u[1] = r * std::sin(a);
            starts[ns++] = f;
        }
    double best = 1e300;
    for (int k = 0; k < ns; k++) {
        TuneFit f = starts[k];
        double cost = TuneModelFit(gS.net, rd, n, scales, &f);
        if (cost < best) {
            best = cost;
            gS.fit = f;
        }
    }
    gS.fitted = true;
}

// One model step: fit, then queue the unread word the model predicts best.
// False when the model's optimum has been read and confirmed often enough.
bool ModelProbe() {
    if (gS.modelReads >= kModelReadsMax) return false;
    Fit();
    int optL[2], optC[2];
    double optD[2];
    for (int arr : {kTuneArrTx, kTuneArrAnt})
        optD[arr] = TuneModelBestWord(gS.net, gS.fit, arr, &optL[arr], &optC[arr]);
    int oa = optD[kTuneArrTx] <= optD[kTuneArrAnt] ? kTuneArrTx : kTuneArrAnt;
    if (gS.debug) {
        TuneCplx g = TuneLoadGamma(gS.fit);
        TuneCplx z = 50.0 * (1.0 + g) / (1.0 - g);
        Trace("tune search fit: load %.1f%+.1fj, L x%.3f, C x%.3f; best %d L %d C %d SWR %.2f\n",
              z.real(), z.imag(), std::exp(gS.fit.lnSL), std::exp(gS.fit.lnSC), oa, optL[oa],
              optC[oa], std::exp(optD[oa]));
    }
    if (Find(oa, optL[oa], optC[oa]) >= 0) {
        if (++gS.confirmations >= kConfirmations) return false;
    } else {
        gS.confirmations = 0;
    }
    Probe best{};
    double bestD = 1e9;
    for (int arr : {kTuneArrTx, kTuneArrAnt})
        for (int dl = -3; dl <= 3; dl++)
            for (int dc = -3; dc <= 3; dc++) {
                int l = optL[arr] + dl, c = optC[arr] + dc;
                if (!InRange(l, c) || Find(arr, l, c) >= 0) continue;
                double d = TuneModelLogSwr(gS.net, gS.fit, arr, l, c);
                if (d < bestD) {
                    bestD = d;
                    best = Probe{arr, l, c};
                }
            }
    if (bestD > 1e8) return false;
    Push(best);
    gS.modelReads++;
    return true;
}

// Queues the unread words at Chebyshev distance `r` round the best word read,
// best predicted first, leaving out those the model puts well above it.
void QueueRing(int centre, int r) {
    const Word &b = gS.words[centre];
    Probe ring[16];
    double pred[16];
    int n = 0;
    for (int dl = -r; dl <= r; dl++)
        for (int dc = -r; dc <= r; dc++) {
            if (std::max(std::abs(dl), std::abs(dc)) != r) continue;
            Probe p{b.arr, b.l + dl, b.c + dc};
            if (!InRange(p.l, p.c) || Find(p.arr, p.l, p.c) >= 0 || Queued(p)) continue;
            double d = TuneModelLogSwr(gS.net, gS.fit, p.arr, p.l, p.c);
            if (d > b.mean() + kRingMargin) continue;
            ring[n] = p;
            pred[n++] = d;
        }
    int idx[16];
    for (int i = 0; i < n; i++)
        idx[i] = i;
    std::sort(idx, idx + n, [&](int a, int c) { return pred[a] < pred[c]; });
    for (int i = 0; i < n; i++)
        Push(ring[idx[i]]);
}

// Line searches from the best word: along C and along L through it, then
// along L at the capacitor steps next to it and along C at the inductor steps
// next to it, each of those from the step the model puts best on its line
// (where one capacitor or coil step is a large change, the valley of a match
// runs across the steps). The step doubles while the SWR falls and halves
// when it rises; a line ends when neither neighbour of its best is lower.
constexpr int kLineCount = 6;

// The word at position x of the current line.
Probe LineWord(int x) {
    return gS.line.axisL ? Probe{gS.line.arr, x, gS.line.fixed}
                         : Probe{gS.line.arr, gS.line.fixed, x};
}

// Sets up line `no` round the best word `b`; false when it has no place.
bool LineSetUp(int no, int b) {
    const Word &w = gS.words[b];
    Line &ln = gS.line;
    ln = Line{};
    ln.arr = w.arr;
    ln.axisL = no == 1 || no == 2 || no == 3;
    int off = no == 2 || no == 4 ? -1 : no == 3 || no == 5 ? 1 : 0;
    ln.fixed = (ln.axisL ? w.c : w.l) + off;
    if (ln.fixed < 0 || ln.fixed > kTuneStepTop) return false;
    ln.pending = ln.axisL ? w.l : w.c;
    if (off != 0) {
        double best = 1e9;
        for (int x = 0; x <= kTuneStepTop; x++) {
            Probe p = LineWord(x);
            double d = TuneModelLogSwr(gS.net, gS.fit, p.arr, p.l, p.c);
            if (d < best) {
                best = d;
                ln.pending = x;
            }
        }
    }
    ln.cur = -1;
    return true;
}

// True when a probe was queued; false when the line searches are over.
bool LineProbe() {
    for (;;) {
        Line &ln = gS.line;
        if (!ln.active) {
            int b = Best();
            if (gS.lineNo >= kLineCount || b < 0 || gS.words[b].mean() <= kLineSearchAbove)
                return false;
            ln.active = LineSetUp(gS.lineNo++, b);
            continue;
        }
        int x = ln.pending;
        double fx = 1e9;
        if (x >= 0 && x <= kTuneStepTop) {
            Probe p = LineWord(x);
            int i = Find(p.arr, p.l, p.c);
            if (i < 0) {
                Push(p);
                return true;
            }
            fx = gS.words[i].mean();
        }
        if (ln.cur < 0) { // the start
            ln.cur = x;
            ln.fCur = fx;
            ln.pending = x + 1;
            ln.dir = 0;
            continue;
        }
        bool better = fx < ln.fCur;
        if (ln.dir == 0) { // the first neighbours tell the direction
            if (better) {
                ln.dir = x > ln.cur ? 1 : -1;
                ln.step = 2;
                ln.cur = x;
                ln.fCur = fx;
            } else if (x == ln.cur + 1) {
                ln.pending = ln.cur - 1;
                continue;
            } else {
                ln.active = false;
                continue;
            }
        } else if (better) {
            ln.cur = x;
            ln.fCur = fx;
            ln.step *= 2;
        } else if (ln.step > 1) {
            ln.step /= 2;
        } else {
            ln.active = false;
            continue;
        }
        ln.pending = ln.cur + ln.dir * ln.step;
    }
}

// The end: the best words read once more.
void EnterFinal() {
    gS.qLen = 0;
    int order[kWordsMax];
    int no = 0;
    for (int i = 0; i < gS.nWords; i++)
        if (gS.words[i].arr != kTuneArrThrough) order[no++] = i;
    int k = std::min(no, kFinalReads);
    std::partial_sort(order, order + k, order + no,
                      [](int a, int b) { return gS.words[a].mean() < gS.words[b].mean(); });
    gS.nFinal = k;
    for (int i = 0; i < k; i++) {
        gS.finalWords[i] = order[i];
        const Word &wd = gS.words[order[i]];
        Push(Probe{wd.arr, wd.l, wd.c});
    }
}

// Ends on the lowest of the words read again: it becomes the tune's best.
int Finish(Works *w) {
    int b = -1;
    for (int i = 0; i < gS.nFinal; i++) {
        int k = gS.finalWords[i];
        if (b < 0 || gS.words[k].mean() < gS.words[b].mean()) b = k;
    }
    if (b < 0) b = Best();
    if (b >= 0) {
        const Word &wd = gS.words[b];
        Put(w, Probe{wd.arr, wd.l, wd.c});
        miglioretuneParam =
            TuneSample{ShownSwr(wd.mean()), wd.fwd, wd.l, wd.c, w->tunerWord.load()};
        Trace("--------- TUNE SEARCH: end on L %d C %d (%s), SWR %.2f, %d words\n", wd.l, wd.c,
              wd.arr == kTuneArrTx ? "C tx side" : "C antenna side", std::exp(wd.mean()),
              gS.nWords);
    }
    return 1;
}

int Budget(Works *w) {
    return std::min(kSampleBudget, TuneCycleLimit(w->swrTimeoutIdx.load()));
}

// Chooses the next word; 1 when the search is over.
int Next(Works *w) {
    if (gS.nFinal == 0 && cnttune >= Budget(w) - kFinalReads) {
        EnterFinal();
        w->tuneStep = kFinal;
    }
    for (;;) {
        if (gS.qLen > 0) {
            Probe p = Pop();
            if (w->tuneStep.load() != kFinal && Find(p.arr, p.l, p.c) >= 0) continue;
            Put(w, p);
            return 0;
        }
        int b = Best();
        switch (w->tuneStep.load()) {
        case kFirst:
            Push(Probe{kTuneArrThrough, 0, 0});
            w->tuneStep = kThrough;
            break;
        case kThrough:
            QueueSpread();
            w->tuneStep = kSpread;
            break;
        case kSpread:
            w->tuneStep = kModel;
            break;
        case kModel:
            if (!ModelProbe()) w->tuneStep = kRing1;
            break;
        case kRing1:
            if (b >= 0 && b != gS.ring1Centre) {
                gS.ring1Centre = b;
                QueueRing(b, 1);
            } else {
                w->tuneStep = kRing2;
            }
            break;
        case kRing2:
            if (b >= 0 && b != gS.ring1Centre) {
                w->tuneStep = kRing1; // the wider ring found a better word
            } else if (b >= 0 && b != gS.ring2Centre) {
                gS.ring2Centre = b;
                QueueRing(b, 2);
            } else {
                w->tuneStep = kLines;
            }
            break;
        case kLines:
            if (!LineProbe()) {
                EnterFinal();
                w->tuneStep = kFinal;
            }
            break;
        default: // kFinal, all read again
            return Finish(w);
        }
    }
}

} // namespace

int TuneSearchStep(Works *w) {
    if (w->tuneStep.load() == kStart) {
        Begin(w);
        w->tuneStep = kFirst;
    }
    if (w->boardStatus[1].load() & 2) {
        // High-SWR trip: the sample counts as SWR 100 and the board gets
        // "CPFFFF;" next.
        w->swr = 100.0f;
        uint8_t running = 1;
        w->tuneState.compare_exchange_strong(running, 2);
    }
    uint32_t word = w->tunerWord.load();
    float fwd = w->pwrFwd.load();
    double d = (w->boardStatus[1].load() & 2) ? std::log(100.0) : LogSwrOf(fwd, w->pwrRefl.load());
    tuneParam = TuneSample{ShownSwr(d), fwd, w->tuneL.load(), w->tuneC.load(), word};
    cnttune++;
    if (!TuneSampleValid(tuneParam)) {
        // No carrier: the same word again, a few times at most, then the end
        // on the best word read (none: the tune stores nothing).
        return ++gS.dropouts >= kDropoutsMax ? Finish(w) : 0;
    }
    gS.dropouts = 0;
    int arr = ArrOf(gS, word);
    if (gS.debug)
        Trace("tune search %d: arrangement %d L %d C %d SWR %.2f\n", w->tuneStep.load(), arr,
              DecodeInduttanzaFromTuneval(word), DecodeCapacitaFromTuneval(word), std::exp(d));
    if (arr != kTuneArrThrough) CtrlNuovoTune(w);
    Record(arr, arr == kTuneArrThrough ? 0 : DecodeInduttanzaFromTuneval(word),
           arr == kTuneArrThrough ? 0 : DecodeCapacitaFromTuneval(word), d, fwd);
    return Next(w);
}
