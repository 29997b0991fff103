// The supervisor pass on a fake clock: frequency sources and the actions of a
// change, the screen saver, the port-error screen, the TAV tune hand-shake and
// the timers.
#include "model/cmd_queue.h"
#include "config/band_table.h"
#include "screenshot.h"
#include "supervisor/antenna.h"
#include "supervisor/timer.h"
#include "model/errors.h"
#include "model/tav_params.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// A unit past its first selection: filters for 40 m and 20 m, a band table
// with the same two bands, every action already in force at 14.074 MHz.
struct SupervisedUnit : ScreenUnit {
    ScopedSimRoot root; // the readers and the temperature log run inside it
    SupervisorState st;
    BandConfig bands[3]{};
    uint64_t now = 1000000;
    explicit SupervisedUnit(int mode) {
        Works *w = &works;
        w->filterTab[2] = {7000000, 7300000, 1};
        w->filterTab[4] = {14000000, 14350000, 1};
        const uint32_t starts[3] = {1800000, 10000000, 30000000};
        for (int i = 0; i < 3; i++) {
            bands[i] = BandConfig{starts[i], starts[i], 1, 1, 1, 0, 100, 10, 50, 1000, {}, {}, 0};
            bands[i].sogliaFwd = 1000.0f + 100.0f * i;
        }
        w->bandTab = bands;
        w->bandTabCount = 3;
        w->ModeWorkIdx = mode;
        w->freq = w->freqPrev = w->catFreq = w->freqMeasured = 14074000;
        tavPar.freqCur = 14074000;
        w->filterBits = 1 << 4;
        w->tuneBand = 1;
        w->bandRow = 100;
        SupervisorStart(w, &st, now);
    }
    ~SupervisedUnit() { works.bandTab = nullptr; }
    void Pass(uint64_t ms = 10) {
        now += ms;
        SupervisorStep(&works, &st, now);
    }
    void SetSource(int32_t hz) {
        int mode = works.ModeWorkIdx.load();
        if (mode == 1) tavPar.freqCur = static_cast<uint32_t>(hz);
        if (mode == 2) works.catFreq = hz;
        if (mode == 0) works.freqMeasured = hz;
    }
};

TEST(SupervisorFrequency, AChangeQueuesItsCodesOnceInEachMode) {
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        SupervisedUnit u(mode);
        Works *w = &u.works;
        u.Pass();
        EXPECT_TRUE(Queued(w).empty()) << "nothing changed";
        // 40 m: the frequency (not in generic mode, where the board measured
        // it), the filter and the thresholds, in that order.
        u.SetSource(7074000);
        u.Pass();
        std::vector<int> codes = Queued(w);
        std::vector<int> want = mode == 0 ? std::vector<int>{28, 22} : std::vector<int>{9, 28, 22};
        ASSERT_GE(codes.size(), want.size());
        EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + want.size()), want);
        EXPECT_EQ(w->freq.load(), 7074000);
        EXPECT_EQ(w->freqPrev.load(), 7074000);
        EXPECT_EQ(w->filterBits.load(), 1 << 2);
        EXPECT_EQ(w->tuneBand.load(), 0);
        for (int i = 0; i < 3; i++)
            u.Pass();
        EXPECT_TRUE(Queued(w).empty()) << "the same frequency again";
        // Within the band only the frequency goes out.
        u.SetSource(7150000);
        u.Pass();
        codes = Queued(w);
        if (mode == 0) {
            EXPECT_EQ(std::count(codes.begin(), codes.end(), 9), 0);
        } else {
            ASSERT_FALSE(codes.empty());
            EXPECT_EQ(codes[0], 9);
        }
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 28), 0);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 22), 0);
    }
}

TEST(SupervisorFrequency, ABankLoadRepeatsTheActionsOnceAtTheSameFrequency) {
    SupervisedUnit u(2);
    Works *w = &u.works;
    w->filterBits = 0; // the new bank's filter is not set yet
    w->bandRow = -1;
    u.Pass();
    std::vector<int> codes = Queued(w);
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes[0], 9);
    EXPECT_EQ(codes[1], 28);
    EXPECT_NE(w->bandRow.load(), -1);
    u.Pass();
    EXPECT_TRUE(Queued(w).empty());
}

TEST(SupervisorFrequency, InputSelectorResetAndFollowedByMode) {
    for (int mode : {0, 2}) {
        SupervisedUnit u(mode);
        Works *w = &u.works;
        w->antInput = 3;
        u.Pass();
        EXPECT_EQ(Queued(w), std::vector<int>{21});
        EXPECT_EQ(w->antInput.load(), 0);
        u.Pass();
        EXPECT_TRUE(Queued(w).empty());
    }
    // TAV mode follows the transceiver's selector while it receives and no
    // transmit test runs.
    SupervisedUnit u(1);
    Works *w = &u.works;
    u.tavPar.inputSel = 2;
    w->txTest = 1 << 4;
    u.Pass();
    EXPECT_TRUE(Queued(w).empty());
    w->txTest = 0;
    u.Pass();
    EXPECT_EQ(Queued(w), std::vector<int>{21});
    EXPECT_EQ(w->antInput.load(), 2);
    u.tavPar.inputSel = 1;
    u.tavPar.txFlag = 1;
    u.Pass();
    EXPECT_EQ(w->txReady.load(), 1);
    EXPECT_EQ(w->antInput.load(), 2) << "not while transmitting";
    // A mode not known yet takes no frequency from anywhere.
    SupervisedUnit none(-1);
    none.works.catFreq = none.works.freqMeasured = 7074000;
    none.Pass();
    EXPECT_EQ(none.works.freq.load(), 14074000);
    EXPECT_TRUE(Queued(&none.works).empty());
}

TEST(SupervisorScreen, FirstNormalPassShowsTheMeterFace) {
    SupervisedUnit u(2);
    Works *w = &u.works;
    u.Background("statusB"); // what start-up leaves
    w->viewType = 1;
    u.Pass();
    EXPECT_STREQ(w->imageName, "img1");
    EXPECT_EQ(w->redrawBack.load(), 0);
    ScreenUnit face;
    face.Background("img1");
    // Above the meters' drawing (the clock is off) the face itself shows.
    EXPECT_EQ(DiffBytes(face.works.fb.backMem, w->fb.backMem, w->fb.memSize), 0u);
    EXPECT_EQ(DiffBytes(face.works.fb.workMem, w->fb.screenMem, w->fb.lineSize * 30), 0u);
}

// The plot says NO DATA until a spectrum comes and again 2 s after the last.
TEST(SupervisorScreen, PlotWithoutSpectraForTwoSecondsSaysNoData) {
    SupervisedUnit u(2);
    Works *w = &u.works;
    u.Pass();
    EXPECT_EQ(w->plotNoData.load(), 1) << "none yet";
    const uint8_t frame[939] = {};
    storeFFT(w, sizeof frame, frame);
    u.Pass(); // it came
    u.Pass(1990);
    EXPECT_EQ(w->plotNoData.load(), 0) << "1.99 s after it came";
    u.Pass(10);
    EXPECT_EQ(w->plotNoData.load(), 1);
}

// "my_temp" is a process a second: run for the status page only, which shows it.
TEST(SupervisorScreen, ProcessorTemperatureReadForTheStatusPageOnly) {
    SupervisedUnit u(2);
    WriteWholeFile(u.root.Path("/bin/my_temp"), "#!/bin/sh\necho 47.5\n");
    chmod(u.root.Path("/bin/my_temp").c_str(), 0755);
    u.Pass();
    EXPECT_EQ(u.works.cpuTemp.load(), 0.0f);
    u.works.screenFlags = kScreenStatus;
    u.Pass();
    EXPECT_FLOAT_EQ(u.works.cpuTemp.load(), 47.5f);
}

TEST(SupervisorScreen, SaverStartsAfterItsIdleMinutes) {
    const struct { int idx, minutes; } cases[] = {{0, 5}, {4, 60}, {9, 5}};
    for (const auto &c : cases) {
        SupervisedUnit u(2);
        Works *w = &u.works;
        w->saveScreenIdx = static_cast<uint8_t>(c.idx);
        u.Pass(uint64_t(c.minutes) * 60000 - 20);
        EXPECT_EQ(w->saveScreenOn.load(), 0) << c.idx;
        u.Pass(20);
        EXPECT_EQ(w->saveScreenOn.load(), 1) << c.idx;
        EXPECT_STREQ(w->imageName, "start");
        // A key wakes the screen; idle time counts again from that key.
        w->saveScreenOn = 0;
        w->lastKeyTime = w->lastKeyTime.load() + 1;
        u.Pass(10);
        u.Pass(uint64_t(c.minutes) * 60000 - 20);
        EXPECT_EQ(w->saveScreenOn.load(), 0);
        u.Pass(20);
        EXPECT_EQ(w->saveScreenOn.load(), 1);
    }
}

// The screen above the soft-key bar (the bar belongs to the menu drawing).
::testing::AssertionResult TopMatches(const FbScreen &fb, const char *name) {
    MemScreen top(800, 480, 32);
    top.Fill(0);
    std::memcpy(top.fb.workMem, fb.workMem, static_cast<size_t>(fb.lineSize) * 420);
    return MatchesReference(top.fb, name);
}

TEST(SupervisorScreen, PortErrorScreenUntilDismissedInOnePass) {
    SupervisedUnit u(2);
    Works *w = &u.works;
    u.Background("img1");
    std::snprintf(w->portErrorText, sizeof w->portErrorText, "%s",
                  "CAT: Unable to open device /dev/ttyUSB1");
    w->portError = 2;
    w->catFreq = 7074000;
    u.Pass();
    EXPECT_EQ(w->menuIdx.load(), 5);
    EXPECT_STREQ(w->imageName, "start");
    EXPECT_EQ(w->freqPrev.load(), 14074000) << "no frequency actions on the error screen";
    EXPECT_TRUE(TopMatches(w->fb, "port_error"));
    // The picture stays in the background; later passes do not read it again.
    std::memset(w->fb.backMem, 0x40, w->fb.memSize);
    fbMarkRows(&w->fb, 0, w->fb.sizeY - 1, 1); // a writer outside the drawing functions says so
    u.Pass();
    EXPECT_EQ(w->fb.workMem[4 * 5], 0x40);
    EXPECT_EQ(w->fb.screenMem[4 * 5], 0x40) << "the pass is shown";

    w->portError = -1;
    u.Pass();
    EXPECT_EQ(w->menuIdx.load(), 0);
    EXPECT_EQ(w->portError.load(), 0);
    u.Pass();
    EXPECT_EQ(w->freqPrev.load(), 7074000) << "normal passes again";
    // A new failure loads the picture again; a text too long for the screen
    // is cut instead of wrapping round to the left edge.
    std::memset(w->portErrorText, 'W', sizeof w->portErrorText - 1);
    w->portError = 1;
    u.Pass();
    EXPECT_NE(w->fb.workMem[4 * 5], 0x40);
    for (int y = 268; y < 312; y++)
        for (int x = 0; x < 8; x++)
            ASSERT_EQ(w->fb.workMem[y * w->fb.lineSize + 4 * x + 2], 80) << x << "," << y;
}

TEST(SupervisorFrequency, AnEndedTuneGetsItsInputThresholdBackAtTheSameFrequency) {
    SupervisedUnit u(2);
    Works *w = &u.works;
    u.Pass();
    Queued(w);
    // A tune opened the input threshold; while it runs nothing changes it.
    w->tsThreshold[0] = 4095;
    w->tuneBand = -1;
    w->tuneState = 1;
    u.Pass();
    EXPECT_TRUE(Queued(w).empty());
    // It ended: the band's thresholds go out again, once.
    w->tuneState = 0;
    u.Pass();
    std::vector<int> codes = Queued(w);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 22), 1);
    EXPECT_EQ(w->tsThreshold[0].load(), 10); // sqrt(100 W / K2 1)
    EXPECT_EQ(w->tuneBand.load(), 1);
    u.Pass();
    EXPECT_TRUE(Queued(w).empty());
}

struct TavTuneUnit : SupervisedUnit {
    TavTuneUnit() : SupervisedUnit(1) { works.tuneOpt = 1; }
    bool Bit(int b) { return (works.tuneOpt.load() >> b) & 1; }
};

TEST(SupervisorTavTune, TransmitStartsOneTuneAfterTheReceiveSettles) {
    TavTuneUnit u;
    Works *w = &u.works;
    u.tavPar.txFlag = 1;
    w->rxSettle = 2;
    u.Pass();
    u.Pass();
    EXPECT_FALSE(u.Bit(1));
    EXPECT_EQ(w->rxSettle.load(), 0);
    u.Pass();
    EXPECT_TRUE(u.Bit(1)) << "the tune started";
    // A transmit test keeps it from starting.
    TavTuneUnit t;
    t.tavPar.txFlag = 1;
    t.works.txTest = 1;
    t.Pass();
    EXPECT_FALSE(t.Bit(1));
    // Without "Enable TAV Tune" nothing happens.
    TavTuneUnit off;
    off.works.tuneOpt = 0;
    off.tavPar.txFlag = 1;
    off.Pass();
    EXPECT_EQ(off.works.tuneOpt.load(), 0);
}

TEST(SupervisorTavTune, HandShakeBitsClearAfterTheirWaits) {
    // Bit 3: twelve passes of waiting, cleared with bits 1 and 4 on the next.
    for (int tx : {1, 0}) {
        TavTuneUnit u;
        Works *w = &u.works;
        u.tavPar.txFlag = tx;
        w->tuneOpt = 1 | 2 | 8 | 16;
        for (int i = 0; i < 12; i++)
            u.Pass();
        EXPECT_EQ(w->tuneOpt.load(), 1 | 2 | 8 | 16) << tx;
        u.Pass();
        EXPECT_EQ(w->tuneOpt.load(), 1) << tx;
        EXPECT_EQ(u.st.tuneWaitCnt, tx == 1 ? 12 : 0);
    }
    // Bit 4 while receiving: bit 5 once the ring is empty.
    TavTuneUnit u;
    Works *w = &u.works;
    w->tuneOpt = 1 | 16;
    IncPNTIn_CMDLinear(1, w);
    u.Pass();
    EXPECT_FALSE(u.Bit(5));
    Queued(w);
    u.Pass();
    EXPECT_TRUE(u.Bit(5));
    // Bits 4 and 6: the transceiver ended the tune after 31 waiting passes.
    w->tuneOpt = 1 | 16 | 64;
    w->tuneState = 1;
    w->errSuspend = 0; // past start-up: errors are listed
    for (int i = 0; i < 31; i++)
        u.Pass();
    EXPECT_FALSE(ExistError(w, 14));
    EXPECT_TRUE(u.Bit(6));
    u.Pass();
    EXPECT_TRUE(ExistError(w, 14));
    EXPECT_EQ(w->tuneOpt.load() & (16 | 64), 0);
    // Transmitting with bit 6 set: nothing changes.
    w->tuneOpt = 1 | 2 | 16 | 64;
    u.tavPar.txFlag = 1;
    u.st.tuneWaitCnt = 7;
    u.Pass();
    EXPECT_EQ(w->tuneOpt.load(), 1 | 2 | 16 | 64);
    EXPECT_EQ(u.st.tuneWaitCnt, 7);
}

TEST(SupervisorTimers, CountPassTimeOnTheMonotonicClock) {
    SupervisedUnit u(2);
    Works *w = &u.works;
    w->errHoldOff = 2000;
    w->tempLogOn = 1;
    w->tempLogStarted = 1;
    w->auxFwdEnable = 1;
    w->viewType = 1;
    w->pwrFwdAux = 40.0f;
    PeakDecrement = 0.0;
    u.Pass(10); // the peak takes the reading
    w->pwrFwdAux = 41.0f;
    u.Pass(10); // a new maximum holds for 3000 ms
    w->pwrFwdAux = 10.0f;
    for (int i = 0; i < 4; i++)
        u.Pass(490);
    EXPECT_EQ(w->errHoldOff.load(), 2000 - 20 - 1960);
    EXPECT_NEAR(w->tempLogTimer, 1980, 1e-9);
    EXPECT_FLOAT_EQ(w->peak[0].val, 41.0f);
    u.Pass(1020); // 2000 ms passed, the hold-off is over
    EXPECT_EQ(w->errHoldOff.load(), 0);
    EXPECT_FLOAT_EQ(w->peak[0].val, 41.0f) << "still held 2980 ms after the peak";
    u.Pass(1000);
    EXPECT_LT(w->peak[0].val, 41.0f) << "released after 3000 ms";
    EXPECT_NEAR(w->tempLogTimer, 4000, 1e-9);
    u.Pass(1000);
    EXPECT_EQ(w->tempLogTimer, 0) << "a record every 5000 ms";
}

} // namespace
