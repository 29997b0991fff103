// The model search of the automatic tune: the L-network model and its fit,
// the tuner design file, and the search run exchange by exchange against the
// simulated tuner (with drawn part tolerances and reflected-reading noise).
#include "amplifier/tune.h"
#include "amplifier/tune_model.h"
#include "config/tuner_design.h"
#include "model/errors.h"
#include "tune_rig.h"
#include "unit.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TuneFit LoadFit(TuneCplx z, double sl = 1.0, double sc = 1.0) {
    TuneCplx g = (z - 50.0) / (z + 50.0);
    double r = std::abs(g), u = std::atanh(r);
    TuneFit f;
    f.u[0] = g.real() / r * u;
    f.u[1] = g.imag() / r * u;
    f.lnSL = std::log(sl);
    f.lnSC = std::log(sc);
    return f;
}

// For loads on both sides of 50 ohm: the closed form matches in the
// arrangement that can; a word reads SWR 1 on the load it matches (lossless
// coils); and readings of a handful of words, with the banks' scales off,
// give back the load and the best word.
TEST(TuneModel, ClosedFormMatchedLoadsAndFitAgree) {
    TunerDesign lossless;
    lossless.coilQ = 1e5f;
    TuneNet net = TuneNetAt(TunerDesign{}, 14.2e6), ideal = TuneNetAt(lossless, 14.2e6);
    for (TuneCplx z :
         {TuneCplx(12.5, 0), TuneCplx(200, 0), TuneCplx(10, 60), TuneCplx(300, -400)}) {
        TuneFit truth = LoadFit(z, 1.04, 0.97);
        std::vector<TuneReading> rd = {
            {kTuneArrThrough, 0, 0, 2.0 * std::hypot(truth.u[0], truth.u[1])}};
        int arrs = 0;
        for (int arr : {kTuneArrTx, kTuneArrAnt}) {
            double l, c;
            if (!TuneModelMatch(net, truth, arr, &l, &c)) continue;
            arrs++;
            EXPECT_LT(TuneModelLogSwr(net, truth, arr, l, c), std::log(1.05)) << z;
            TuneFit m;
            TuneModelMatchedLoad(ideal, truth, arr, static_cast<int>(l), static_cast<int>(c), &m);
            EXPECT_LT(TuneModelLogSwr(ideal, m, arr, static_cast<int>(l), static_cast<int>(c)),
                      1e-3);
            for (double kl : {0.6, 1.0, 1.5})
                for (double kc : {0.6, 1.0, 1.5}) {
                    int wl = static_cast<int>(l * kl), wc = static_cast<int>(c * kc);
                    rd.push_back({arr, wl, wc, TuneModelLogSwr(net, truth, arr, wl, wc)});
                }
        }
        EXPECT_EQ(arrs, 1) << z << ": exactly one arrangement matches";
        TuneFit f;
        TuneModelMatchedLoad(net, TuneFit{}, rd[5].arr, rd[5].l, rd[5].c, &f);
        TuneModelFit(net, rd.data(), static_cast<int>(rd.size()), true, &f);
        // Scales a few per cent off look much like a slightly other load near
        // a match: the readings and the load come back, the scales need not.
        EXPECT_LT(std::abs(TuneLoadGamma(f) - TuneLoadGamma(truth)), 0.03) << z;
        for (const TuneReading &r : rd)
            EXPECT_NEAR(TuneModelLogSwr(net, f, r.arr, r.l, r.c), r.d, 0.05) << z;
        int l1, c1, l2, c2;
        TuneModelBestWord(net, f, rd[5].arr, &l1, &c1);
        TuneModelBestWord(net, truth, rd[5].arr, &l2, &c2);
        EXPECT_LE(std::abs(l1 - l2) + std::abs(c1 - c2), 1) << z;
    }
}

TEST(TuneModel, DesignFileDefaultsValuesAndBadLines) {
    ScopedSimRoot root;
    TestUnit u;
    EXPECT_EQ(ReadTunerDesign(u.w()), 1); // no file: the simulated tuner's parts
    EXPECT_EQ(u.works.tunerDesign.lStepNH, 50.0f);
    EXPECT_EQ(u.works.tunerDesign.cStrayPF, 19.0f);
    EXPECT_EQ(u.works.tunerDesign.txSideBit, 23);
    WriteWholeFile(root.Path("/opt/set/tuner.txt"),
                   "LStepNH: 45.5\r\nCStepPF: 11\nCStrayPF: x\nCoilQ: 90\nTxSideBit: 20\n"
                   "; comment\nTxSideBit: 18\nLStepNH:7\nColour: red\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadTunerDesign(u.w()), 0);
    testing::internal::GetCapturedStderr();
    const TunerDesign &d = u.works.tunerDesign;
    EXPECT_EQ(d.lStepNH, 45.5f);
    EXPECT_EQ(d.cStepPF, 11.0f);
    EXPECT_EQ(d.cStrayPF, 19.0f); // bad value: the default kept
    EXPECT_EQ(d.coilQ, 90.0f);
    EXPECT_EQ(d.txSideBit, 18);
    TunerDesign fresh;
    EXPECT_EQ(ParseTunerDesign("TxSideBit: 20\nLStepNH:7\nColour: red\nCoilQ: 0\n", &fresh), 4);
    // The documented lower bound is a value the file may hold.
    EXPECT_EQ(ParseTunerDesign("CStepPF: 0.1\n", &fresh), 0);
    EXPECT_EQ(fresh.cStepPF, 0.1f);
}

struct Case {
    const char *load;
    double mhz;
    const char *boardLine; // a control line for the simulated board, or ""
};

// The search against the simulated tuner: within 0.1 of the exhaustive best
// (noise-free and with drawn parts), stored, in at most 100 samples; with
// noise on the reflected reading the stored result is still a match.
TEST(TuneModel, SearchReachesTheBestWordOnTheSimulatedTuner) {
    ScopedSimRoot root;
    testing::internal::CaptureStderr();
    const Case cases[] = {{"200", 7.1, ""},
                          {"10 60", 14.2, "tolerance 3"},
                          {"endfed", 21.2, ""},
                          {"2000", 21.2, "tolerance 9"},
                          {"300 -400", 3.6, "noise 5"},
                          {"dipole-coax", 28.5, "noise 8"}};
    for (const Case &k : cases) {
        TuneRig rig;
        Works *w = rig.w();
        w->swrTarget = 1.5f;
        w->attenuatorTune = 0;
        w->options.tuneSearch = 1;
        w->tsThreshold[0] = w->tsThreshold[1] = 4095;
        ASSERT_TRUE(SimLoadParse(k.load, &rig.board.load));
        rig.board.freq = static_cast<uint32_t>(k.mhz * 1e6);
        rig.board.driveW = 0.5f;
        SimBoard board;
        board.st = rig.board;
        ASSERT_EQ(SimBoardControl(&board, k.boardLine).rfind("ok", 0), 0u) << k.boardLine;
        rig.board = board.st;
        TuneRunResult r = TuneRigRun(&rig, true);
        std::string name = std::string(k.load) + " at " + std::to_string(k.mhz) + " " + k.boardLine;
        EXPECT_LE(r.finalSwr, r.bestSwr + (rig.board.noiseSeed != 0 ? 0.3f : 0.1f)) << name;
        EXPECT_LE(r.samples, 100) << name;
        EXPECT_TRUE(r.stored && r.wordIsBest) << name;
        EXPECT_FALSE(ExistError(w, 18) || ExistError(w, 13)) << name;
    }
    testing::internal::GetCapturedStderr();
}

// The carrier goes away in the middle of the search: a few readings without
// power, then the tune ends on the best word read and stores it.
TEST(TuneModel, CarrierLostEndsOnTheBestWordRead) {
    ScopedSimRoot root;
    testing::internal::CaptureStderr();
    TuneRig rig;
    Works *w = rig.w();
    w->swrTarget = 1.5f;
    w->options.tuneSearch = 1;
    ASSERT_TRUE(SimLoadParse("200", &rig.board.load));
    rig.board.freq = 14200000;
    rig.board.driveW = 0.5f;
    int words = 0;
    rig.onCommand = [&](TuneRig &r, const std::string &c) {
        if (c.rfind("MT1", 0) == 0 && w->cmdQueueDrain.load() == 0 && ++words == 12)
            r.board.driveW = 0.0f;
    };
    TuneRunResult r = TuneRigRun(&rig, false);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.outcome, TuneOutcome::State12);
    EXPECT_LE(r.samples, 12 + 3 + 1);
    EXPECT_TRUE(r.stored && r.wordIsBest);
    EXPECT_FALSE(ExistError(w, 18));
}

} // namespace
