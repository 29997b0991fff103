// The automatic tune, sample by sample: the link and the search in this
// process against the simulated board's tuner model (or fed measurements
// directly where a value must be exact), and the model against hand-computed
// L-networks.
#include "model/cmd_queue.h"
#include "amplifier/tune.h"
#include "model/tuner_word.h"
#include "config/antenna_banks.h"
#include "config/tuner_memory.h"
#include "model/errors.h"
#include "tune_rig.h"
#include "tuner_model.h"
#include "unit.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

struct Tune : testing::Test {
    ScopedSimRoot root;
    TuneRig rig;
    Works *w = rig.w();

    void SetUp() override {
        testing::internal::CaptureStderr();
        w->swrTarget = 1.5f;
        w->swrTimeoutIdx = 0;
        w->attenuatorTune = 0;
        w->tsThreshold[0] = 4095;
        w->tsThreshold[1] = 4095;
        w->tsThreshold[2] = 1500;
        w->tsThreshold[3] = 3700;
        rig.board.driveW = 0.5f; // 5 W forward
        SetLoad("50");
        Freq(3600000);
    }
    void TearDown() override { testing::internal::GetCapturedStderr(); }
    void SetLoad(const char *load) {
        ASSERT_TRUE(SimLoadParse(load, &rig.board.load));
        rig.board.tunerModel = true;
    }
    void Freq(uint32_t hz) {
        rig.board.freq = hz;
        w->freq = static_cast<int32_t>(hz);
    }
    TuneEntry Stored() {
        int32_t a, b;
        int first, end;
        TuneEntry e{};
        LoadTuneValFromTabRam(&e, AtuIdxSearch(w->freq.load(), &a, &b, &first, &end), 0, w);
        return e;
    }
    std::string File() { return ReadWholeFile(root.Path(BankAtuFile(w->numBanco.load(), 1))); }
    // One fed measurement: the values a status reply would leave, then the step.
    void Feed(float swr, float fwd = 5.0f, uint8_t s1 = 1) {
        w->swr = swr;
        w->pwrFwd = fwd;
        w->boardStatus[1] = s1;
        w->txReady = 1;
        TuneTask(w);
    }
    void StartFed() {
        StartAutotune(w);
        w->cmdQueueDrain = 0;
        while (w->tuneStep.load() < 3)
            Feed(0.0f);
    }
};

void ClearErrors(Works *w) {
    for (int code = 0; code <= 24; code++)
        DeleteErrore(w, code);
}

uint32_t WordOf(const std::string &mt1) {
    return static_cast<uint32_t>(std::stoul(mt1.substr(3, 8), nullptr, 16));
}

TEST_F(Tune, FirstSampleBelowTargetEndsAtStateThreeAndIsStored) {
    TuneRunResult r = TuneRigRun(&rig, false);
    EXPECT_EQ(r.outcome, TuneOutcome::Success);
    EXPECT_EQ(w->tuneStep.load(), 3);
    EXPECT_EQ(r.samples, 1);
    EXPECT_LT(r.finalSwr, 1.5f);
    TuneEntry e = Stored();
    EXPECT_EQ(e.valid, 1);
    EXPECT_EQ(e.mode, 1); // arrangement "B"
    EXPECT_EQ(e.L, 0);
    EXPECT_EQ(e.C, 0);
    EXPECT_EQ(File(), "; index frequency valid mode L C\n1400 3600000 1 1 0 0\n");
    EXPECT_EQ(w->tuneBand.load(), -1) << "the thresholds are chosen again";
    // The start's commands went out before the first sample.
    std::vector<std::string> want = {"MP1;", "AT00;", "TS4095409515003700;", "CPFFFF;", "MP0;"};
    std::vector<std::string> got;
    for (const std::string &c : rig.sent)
        if (c.rfind("MT", 0) != 0 && c != "ST;" && got.size() < want.size()) got.push_back(c);
    EXPECT_EQ(got, want);
}

TEST_F(Tune, FlatResponseWalksTheCoarsePhasesToTheirEnds) {
    rig.board.tunerModel = false; // the same SWR whatever the word
    rig.board.loadSwr = 3.0f;
    // Highest steps of the first "B" pass, of the "A" pass, and of the last
    // L passes.
    int maxL[3] = {0, 0, 0}, maxC[3] = {0, 0, 0};
    int pass = 0;
    rig.onCommand = [&](TuneRig &, const std::string &c) {
        if (c.rfind("MT1", 0) != 0 || w->cmdQueueDrain.load() != 0) return;
        uint32_t word = WordOf(c);
        if (pass == 0 && (word & kTunerModeLC)) pass = 1;
        if (pass == 1 && (word & kTunerModeCL)) pass = 2;
        maxL[pass] = std::max(maxL[pass], DecodeInduttanzaFromTuneval(word));
        maxC[pass] = std::max(maxC[pass], DecodeCapacitaFromTuneval(word));
    };
    TuneRunResult r = TuneRigRun(&rig, false);
    EXPECT_EQ(r.outcome, TuneOutcome::State12);
    EXPECT_EQ(maxL[0], 508);
    EXPECT_EQ(maxC[0], 504);
    EXPECT_EQ(maxC[1], 504);
    EXPECT_EQ(maxL[2], 510);
    // Every sample tied: the first (L 0, C 0, "B") stays the best and is stored.
    EXPECT_TRUE(r.wordIsBest);
    EXPECT_TRUE(r.stored);
    EXPECT_EQ(DecodeInduttanzaFromTuneval(r.finalWord), 0);
    EXPECT_FALSE(ExistError(w, 18));
}

TEST_F(Tune, ResultOfSixIsStoredAndAboveSixIsAnError) {
    StartFed();
    while (w->tuneState.load() != 0)
        Feed(6.0f);
    EXPECT_EQ(Stored().valid, 1);
    EXPECT_FALSE(ExistError(w, 18));

    SaveTuneValsuTabRam(TuneEntry{}, 1400, 0, w);
    StartFed();
    while (w->tuneState.load() != 0)
        Feed(6.01f);
    EXPECT_EQ(Stored().valid, 0);
    EXPECT_TRUE(ExistError(w, 18));
}

TEST_F(Tune, CycleLimitEndsOnTheBestWithoutStoringAndNoStepAfter) {
    // swrTarget 0: only state 12 or the limit can end it; the limit is error 12.
    w->swrTarget = 0.0f;
    w->swrTimeoutIdx = 4; // 100 samples
    StartFed();
    // A dip at the fifth sample, then worse and flat.
    for (int i = 0; w->tuneState.load() != 0; i++)
        Feed(i == 4 ? 2.0f : 3.0f);
    EXPECT_TRUE(ExistError(w, 12));
    EXPECT_FALSE(ExistError(w, 18));
    EXPECT_EQ(w->tunerWord.load(), miglioretuneParam.tunerWord);
    EXPECT_EQ(miglioretuneParam.swr, 2.0f);
    EXPECT_EQ(w->tuneL.load(), 16);
    EXPECT_EQ(Stored().valid, 0);

    // With a target, against the model: error 13, the board keeps the best,
    // protection goes back on.
    ClearErrors(w);
    w->swrTarget = 1.5f;
    SetLoad("nomatch");
    TuneRunResult r = TuneRigRun(&rig, false);
    EXPECT_EQ(r.outcome, TuneOutcome::TimeOut);
    EXPECT_TRUE(ExistError(w, 13));
    EXPECT_TRUE(r.wordIsBest);
    EXPECT_FALSE(r.stored);
    for (int i = 0; i < 8; i++)
        TuneRigExchange(&rig);
    EXPECT_TRUE(rig.board.protection);
    EXPECT_EQ(rig.board.tunerWord, miglioretuneParam.tunerWord);
}

TEST_F(Tune, HighSwrTripResetsTheBoardAndTheSearchGoesOn) {
    SetLoad("800");
    Freq(14200000);
    int statuses = 0;
    size_t tripAt = 0;
    float tripSample = 0.0f;
    rig.onCommand = [&](TuneRig &r, const std::string &c) {
        if (tripAt > 0 && r.sent.size() == tripAt + 1) tripSample = tuneParam.swr;
        if (c == "ST;" && w->tuneStep.load() == 3 && ++statuses == 5) {
            r.board.swrTrip = true; // latched until "CPFFFF;"
            tripAt = r.sent.size();
        }
    };
    TuneRunResult r = TuneRigRun(&rig, false);
    ASSERT_GT(tripAt, 0u);
    // Status with the trip, the tuner word, the next status, then the reset.
    ASSERT_GT(rig.sent.size(), tripAt + 3);
    EXPECT_EQ(rig.sent[tripAt].rfind("MT1", 0), 0u);
    EXPECT_EQ(rig.sent[tripAt + 1], "ST;");
    EXPECT_EQ(rig.sent[tripAt + 2], "CPFFFF;");
    EXPECT_EQ(tripSample, 100.0f);
    EXPECT_TRUE(ExistError(w, 1) || !rig.board.swrTrip);
    EXPECT_NE(r.outcome, TuneOutcome::TimeOut);
    EXPECT_LT(r.finalSwr, 6.0f);
    EXPECT_TRUE(r.stored);
}

TEST_F(Tune, NoCarrierStoresNothing) {
    // A good entry from before must survive a tune that measured nothing.
    TuneEntry good{1, 2, 40, 100};
    SaveTuneValsuTabRam(good, 1400, 0, w);
    uint32_t before = w->tunerWord.load();

    // No drive: the board never transmits; the wait counts toward the limit.
    rig.board.driveW = 0.0f;
    w->swrTimeoutIdx = 4;
    TuneRunResult r = TuneRigRun(&rig, false);
    EXPECT_EQ(r.outcome, TuneOutcome::TimeOut);
    EXPECT_TRUE(ExistError(w, 13));
    EXPECT_FALSE(ExistError(w, 18)) << "one cause, one error";
    EXPECT_EQ(rig.board.tunerWord, before) << "back to the word from before the tune";

    // Transmitting but no forward power (a drop-out): every sample reads SWR 0.
    ClearErrors(w);
    rig.board.driveW = 0.5f;
    rig.board.fwdW = 0.0f;
    rig.board.s1Extra = 1;
    w->swrTimeoutIdx = 0;
    r = TuneRigRun(&rig, false);
    EXPECT_EQ(r.outcome, TuneOutcome::State12);
    EXPECT_TRUE(ExistError(w, 18));
    EXPECT_FALSE(ExistError(w, 13));
    TuneEntry e = Stored();
    EXPECT_EQ(e.L, 40);
    EXPECT_EQ(e.C, 100);
}

TEST_F(Tune, StopEndsOnlyARunningTune) {
    StartFed();
    Feed(3.0f);
    EscAutoTune(w, 0);
    EXPECT_EQ(w->tuneState.load(), 0);
    EXPECT_EQ(Stored().valid, 0);
    // A stop that comes late reports nothing about the ended tune.
    ClearErrors(w);
    tuneParam.swr = 50.0f;
    EscAutoTune(w, 1);
    EXPECT_FALSE(ExistError(w, 18));
    // Through: no start.
    w->tunerThrough = 1;
    StartAutotune(w);
    EXPECT_EQ(w->tuneState.load(), 0);
}

TEST_F(Tune, StoringIntoAnotherBankLeavesTheCurrentTablesAlone) {
    // Bank 4's file has an entry; the RAM tables hold the current bank.
    WriteWholeFile(root.Path(BankAtuFile(4, 1)), "2115 7075000 1 2 10 20\n");
    LoadTabAtu(w, w->numBanco.load(), 0);
    w->freq = 3600000;
    SetC(w, 118);
    SetI(w, 42);
    SetMode(w, 1);
    InsertTuneToMem(w, 4, 0);
    EXPECT_EQ(
        ReadWholeFile(root.Path(BankAtuFile(4, 1))),
        "; index frequency valid mode L C\n1400 3600000 1 1 42 118\n2115 7075000 1 2 10 20\n");
    TuneEntry e;
    LoadTuneValFromTabRam(&e, 1400, 0, w);
    EXPECT_EQ(e.valid, 0) << "the current bank's table took another bank's entry";
    // The current bank: RAM and its file.
    InsertTuneToMem(w, w->numBanco.load(), 0);
    LoadTuneValFromTabRam(&e, 1400, 0, w);
    EXPECT_EQ(e.valid, 1);
    EXPECT_NE(File().find("1400 3600000 1 1 42 118\n"), std::string::npos);
}

// The model against L-networks worked by hand: Q = sqrt(Rhigh / Rlow - 1),
// X_L and X_C from Q; the nearest relay steps must match, the other
// arrangement must not.
TEST(TunerModel, MatchesHandComputedLNetworks) {
    struct Case {
        double r, hz, lUh, cPf;
        uint32_t good, bad;
    };
    // 200 ohm at 7 MHz: Q 1.732, X_C = 200 / Q = 115.5 ohm (196.9 pF) across
    // the load, X_L = 50 Q = 86.6 ohm (1.969 uH): capacitor on the antenna side.
    // 12.5 ohm at 7 MHz: X_L = 12.5 Q = 21.65 ohm (0.492 uH), X_C = 50 / Q =
    // 28.87 ohm (787.6 pF): capacitor on the transmitter side.
    const Case cases[] = {{200.0, 7e6, 1.969, 196.9, kTunerModeLC, kTunerModeCL},
                          {12.5, 7e6, 0.492, 787.6, kTunerModeCL, kTunerModeLC}};
    for (const Case &k : cases) {
        int l = 0, c = 0;
        for (int s = 0; s < 512; s++) {
            if (std::fabs(SimTunerL(s) - k.lUh * 1e-6) < std::fabs(SimTunerL(l) - k.lUh * 1e-6))
                l = s;
            if (std::fabs(SimTunerC(s) - k.cPf * 1e-12) < std::fabs(SimTunerC(c) - k.cPf * 1e-12))
                c = s;
        }
        uint32_t steps = SimTunerWordL(l) | SimTunerWordC(c);
        Cplx zl(k.r, 0.0);
        double g = SimReflection(SimTunerInput(k.good | steps, zl, k.hz));
        EXPECT_LT((1 + g) / (1 - g), 1.25) << k.r << " ohm, L " << l << " C " << c;
        g = SimReflection(SimTunerInput(k.bad | steps, zl, k.hz));
        EXPECT_GT((1 + g) / (1 - g), 3.0) << k.r << " ohm in the other arrangement";
        // Through: the load itself.
        Cplx z = SimTunerInput(kTunerModeThrough | steps, zl, k.hz);
        EXPECT_DOUBLE_EQ(z.real(), k.r);
        EXPECT_DOUBLE_EQ(z.imag(), 0.0);
    }
    // An ideal L-network by hand at 7 MHz with the model's own L and C for
    // steps 40 and 20 (no losses): the model differs only by its coil losses,
    // relay leads and strays (a few per cent).
    double w = 2 * M_PI * 7e6, L = SimTunerL(40), C = SimTunerC(20);
    Cplx ideal = Cplx(0, w * L) + 1.0 / (Cplx(0, w * C) + 1.0 / Cplx(200, 0));
    Cplx model = SimTunerInput(kTunerModeLC | SimTunerWordL(40) | SimTunerWordC(20), {200, 0}, 7e6);
    EXPECT_NEAR(model.real(), ideal.real(), 0.05 * std::abs(ideal));
    EXPECT_NEAR(model.imag(), ideal.imag(), 0.05 * std::abs(ideal));
    // The banks: each step within 5 % (plus leads and strays) of nominal.
    for (int s : {1, 2, 16, 100, 256, 511}) {
        EXPECT_NEAR(SimTunerL(s), s * 0.05e-6, 0.05 * s * 0.05e-6 + 40e-9) << s;
        EXPECT_NEAR(SimTunerC(s), s * 10e-12, 0.05 * s * 10e-12 + 20e-12) << s;
    }
}

// The board decodes the controller's word with its own table: both agree.
TEST(TunerModel, BoardTableAgreesWithTheControllersPackers) {
    TestUnit u;
    for (int v : {0, 1, 2, 5, 85, 170, 256, 300, 511}) {
        u.works.tunerWord = 0;
        SetC(&u.works, v);
        EXPECT_EQ(u.works.tunerWord.load(), SimTunerWordC(v)) << v;
        u.works.tunerWord = 0;
        SetI(&u.works, v);
        EXPECT_EQ(u.works.tunerWord.load(), SimTunerWordL(v)) << v;
    }
}

TEST(TunerModel, LoadsByControlLine) {
    ScopedSimRoot root;
    SimBoard b;
    EXPECT_EQ(SimBoardControl(&b, "load 300 -400").rfind("ok", 0), 0u);
    EXPECT_TRUE(b.st.tunerModel);
    EXPECT_EQ(b.st.load.r, 300.0);
    EXPECT_EQ(b.st.load.x, -400.0);
    EXPECT_EQ(SimBoardControl(&b, "load dipole").rfind("ok", 0), 0u);
    EXPECT_EQ(b.st.load.kind, SimLoadKind::Dipole);
    EXPECT_EQ(SimBoardControl(&b, "load 12x").rfind("error", 0), 0u);
    EXPECT_EQ(b.st.load.kind, SimLoadKind::Dipole);
    EXPECT_EQ(SimBoardControl(&b, "swr 2").rfind("ok", 0), 0u);
    EXPECT_FALSE(b.st.tunerModel);
    // The dipole is near resonance at 14.2 MHz and far from it at 3.6 MHz.
    SimLoad d{SimLoadKind::Dipole, 0, 0};
    EXPECT_LT(SimReflection(SimLoadImpedance(d, 14.2e6)), 0.3);
    EXPECT_GT(SimReflection(SimLoadImpedance(d, 3.6e6)), 0.9);
}

} // namespace
