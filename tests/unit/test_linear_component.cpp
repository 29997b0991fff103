// The real link thread against the simulated power board over a pseudo-terminal.
#include "model/cmd_queue.h"
#include "amplifier/commands.h"
#include "amplifier/decode.h"
#include "amplifier/linear.h"
#include "board.h"
#include "config/band_table.h"
#include "amplifier/temp_log.h"
#include "config/fan_table.h"
#include "config/filter_table.h"
#include "supervisor/thresholds.h"
#include "platform/clock.h"
#include "model/errors.h"
#include "unit.h"

#include <functional>
#include <gtest/gtest.h>
#include <pthread.h>
#include <vector>

namespace {

struct LinkRig {
    ScopedSimRoot root;
    TestUnit u;
    SimBoard board;
    pthread_t thread{};
    bool started = false;
    bool capturing = true;

    LinkRig() {
        testing::internal::CaptureStderr();
        EXPECT_EQ(SimBoardStart(&board, root.root), 0);
        u.w()->errSuspend = 0;
    }
    ~LinkRig() {
        Stop();
        SimBoardStop(&board);
        if (capturing) testing::internal::GetCapturedStderr();
    }
    Works *w() { return u.w(); }
    void Start() {
        ASSERT_EQ(pthread_create(&thread, nullptr, Linear, w()), 0);
        started = true;
    }
    // Stops the thread; returns how long it took to end (ms).
    uint64_t Stop() {
        if (!started) return 0;
        uint64_t t0 = NowMs();
        w()->running = 0;
        pthread_join(thread, nullptr);
        started = false;
        return NowMs() - t0;
    }
    std::vector<SimFrame> Frames() { return SimBoardFrames(&board); }
    // Waits until `pred(frames)` holds; false after `ms`.
    bool WaitFor(const std::function<bool(const std::vector<SimFrame> &)> &pred, int ms) {
        uint64_t end = NowMs() + static_cast<uint64_t>(ms);
        while (NowMs() < end) {
            if (pred(Frames())) return true;
            SleepMs(5);
        }
        return pred(Frames());
    }
    bool WaitCount(size_t n, int ms) {
        return WaitFor([n](const std::vector<SimFrame> &f) { return f.size() >= n; }, ms);
    }
};

std::vector<std::string> Texts(const std::vector<SimFrame> &f, size_t from = 0) {
    std::vector<std::string> out;
    for (size_t i = from; i < f.size(); i++)
        out.push_back(f[i].text);
    return out;
}

const std::vector<std::string> kStartUp = {"VSM;",
                                           "ER0000;",
                                           "ER0001;",
                                           "ER0002;",
                                           "MP0;",
                                           "TS4095409515003700;",
                                           "AN0;",
                                           "SA1;",
                                           "FS00001;",
                                           "MT100000000;",
                                           "PS0001100000000000;",
                                           "GM00020100;",
                                           "GS;",
                                           "CPFFFF;",
                                           "MR0;"};

TEST(LinearLink, StartUpCommandsOnePerStatusPoll) {
    LinkRig r;
    SimBoardSet(&r.board, [](SimBoardState &st) { st.ee[2][1] = '1'; });
    r.w()->fanPercent = 100; // no fan table: already at full speed
    InitMicroCmd(r.w());
    r.Start();
    ASSERT_TRUE(r.WaitCount(2 * kStartUp.size() + 5, 5000));
    auto f = r.Frames();
    for (size_t i = 0; i < kStartUp.size(); i++) {
        EXPECT_EQ(f[2 * i].text, "ST;") << i;
        EXPECT_EQ(f[2 * i + 1].text, kStartUp[i]) << i;
    }
    for (size_t i = 0; i < f.size(); i++) {
        EXPECT_TRUE(f[i].crcOk) << f[i].text;
        EXPECT_TRUE(f[i].known) << f[i].text;
    }
    // Pacing: 10 ms after a status reply, 20 ms after any other.
    for (size_t i = 1; i < f.size(); i++) {
        uint64_t gap = f[i].ms - f[i - 1].ms;
        EXPECT_GE(gap, f[i - 1].text == "ST;" ? 10u : 20u) << f[i - 1].text << " -> " << f[i].text;
    }
    EXPECT_LT(r.Stop(), 2000u);
    EXPECT_STREQ(r.w()->boardVersion, "2.05.03");
    EXPECT_EQ(r.w()->microReady.load(), 1);
    EXPECT_EQ(r.w()->errSuspend.load() & 1, 0);
    EXPECT_EQ(r.w()->powerClass.load(), '1');
}

TEST(LinearLink, IdleLinkAlternatesStatusAndFrequency) {
    LinkRig r;
    r.w()->fanPercent = 100;
    SimBoardSet(&r.board, [](SimBoardState &st) { st.freq = 7074000; });
    r.Start();
    ASSERT_TRUE(r.WaitCount(12, 3000));
    auto t = Texts(r.Frames());
    for (size_t i = 0; i < 12; i++)
        EXPECT_EQ(t[i], i % 2 == 0 ? "ST;" : "FM;") << i;
    EXPECT_EQ(r.w()->freqMeasured.load(), 7074000);
}

TEST(LinearLink, SilentBoardCostsThreeResendsThenErrorFour) {
    LinkRig r;
    r.w()->fanPercent = 100;
    r.Start();
    ASSERT_TRUE(r.WaitCount(3, 2000));
    SimBoardFault(&r.board, [](SimBoardFaults &fl) { fl.silent = 4; });
    size_t from = r.Frames().size();
    ASSERT_TRUE(r.WaitCount(from + 6, 9000));
    auto f = r.Frames();
    // The frame that went out while the fault was set may already have been answered.
    size_t first = from;
    while (first < f.size() && f[first].reply != "")
        first++;
    ASSERT_LT(first + 4, f.size());
    const std::string cmd = f[first].text;
    for (size_t i = first + 1; i < first + 4; i++) {
        EXPECT_EQ(f[i].text, cmd);
        uint64_t gap = f[i].ms - f[i - 1].ms;
        EXPECT_GE(gap, 1490u);
        EXPECT_LE(gap, 1800u);
    }
    EXPECT_EQ(f[first + 4].text, "ST;");
    EXPECT_GE(f[first + 4].ms - f[first + 3].ms, 1490u);
    EXPECT_EQ(ExistError(r.w(), 4), 1);
    r.Stop();
    EXPECT_EQ(std::string(r.w()->errDetail), "Err " + cmd.substr(0, 2));
    EXPECT_EQ(r.w()->retryStops.load(), 1);
}

TEST(LinearLink, RefusedReplyIsRetriedAtOnce) {
    LinkRig r;
    r.w()->fanPercent = 100;
    IncPNTIn_CMDLinear(7, r.w());
    SimBoardFault(&r.board, [](SimBoardFaults &fl) {
        fl.refuse = 1;
        fl.refuseChar = '?';
    });
    r.Start();
    ASSERT_TRUE(r.WaitCount(5, 3000));
    auto f = r.Frames();
    EXPECT_EQ(f[0].text, "ST;");
    EXPECT_EQ(f[0].reply, "ST?;");
    EXPECT_EQ(f[1].text, "ST;") << "the refused status is sent again";
    EXPECT_LT(f[1].ms - f[0].ms, 200u);
    EXPECT_EQ(f[2].text, "SA1;");
    EXPECT_EQ(r.w()->retryTotal.load(), 1);
    EXPECT_EQ(ExistError(r.w(), 4), 0);
}

TEST(LinearLink, TwentyNineQueuedCodesGoOutInOrder) {
    LinkRig r;
    r.w()->fanPercent = 100;
    const std::vector<int> codes = {7,  9,  12, 13, 14, 17, 18, 19, 20, 21, 22, 24, 28, 33, 34,
                                    36, 37, 38, 10, 11, 15, 16, 8,  0,  32, 23, 35, 39, 40};
    ASSERT_EQ(codes.size(), 29u);
    for (int c : codes)
        ASSERT_EQ(IncPNTIn_CMDLinear(c, r.w()), 0);
    r.Start();
    ASSERT_TRUE(r.WaitCount(2 * codes.size() + 2, 8000));
    auto f = r.Frames();
    for (size_t i = 0; i < codes.size(); i++) {
        char text[64], letters[2];
        int n = FormatLinearCmd(r.w(), codes[i], text, sizeof text, letters);
        ASSERT_GT(n, 0);
        EXPECT_EQ(f[2 * i].text, "ST;") << i;
        EXPECT_EQ(f[2 * i + 1].text.substr(0, 2), std::string(letters, 2)) << i;
        EXPECT_TRUE(f[2 * i + 1].crcOk) << i;
    }
    EXPECT_EQ(f[2 * codes.size() + 1].text, "FM;");
}

TEST(LinearLink, TripInS2ShowsErrorFifteen) {
    LinkRig r;
    r.w()->fanPercent = 100;
    SimBoardSet(&r.board, [](SimBoardState &st) {
        st.bypass = false;
        st.loadSwr = 1.0f;
    });
    r.w()->tsThreshold[1] = 2000; // forward limit far below 500 W
    IncPNTIn_CMDLinear(22, r.w());
    r.Start();
    ASSERT_TRUE(r.WaitFor(
        [](const std::vector<SimFrame> &f) {
            return f.size() >= 2 && f[1].text == "TS4095200015003700;";
        },
        2000));
    EXPECT_EQ(ExistError(r.w(), 15), 0);
    SimBoardSet(&r.board, [](SimBoardState &st) { st.driveW = 50.0f; }); // 500 W out
    ASSERT_TRUE(
        r.WaitFor([&](const std::vector<SimFrame> &) { return ExistError(r.w(), 15) == 1; }, 3000));
    EXPECT_TRUE(r.w()->boardStatus[2].load() & 0x04);
    // Protection reset clears the trip on the board and the error here.
    IncPNTIn_CMDLinear(13, r.w());
    SimBoardSet(&r.board, [](SimBoardState &st) { st.driveW = 0.0f; });
    ASSERT_TRUE(
        r.WaitFor([&](const std::vector<SimFrame> &) { return ExistError(r.w(), 15) == 0; }, 3000));
    r.Stop();
    EXPECT_STREQ(r.w()->tripLabel, "FWD");
}

TEST(LinearLink, FanChangeGoesOutOnce) {
    LinkRig r;
    FanRow rows[3] = {{30.0f, 0}, {40.0f, 50}, {50.0f, 100}};
    r.w()->fanTab = rows;
    r.w()->fanTabCount = 3;
    r.w()->fanPercent = 0;
    SimBoardSet(&r.board, [](SimBoardState &st) {
        st.temp1 = 45.0f;
        st.temp2 = 35.0f;
    });
    r.Start();
    ASSERT_TRUE(r.WaitCount(20, 3000));
    int fan = 0;
    for (const auto &f : r.Frames())
        if (f.text.rfind("FN", 0) == 0) {
            fan++;
            EXPECT_EQ(f.text, "FN1050;");
        }
    EXPECT_EQ(fan, 1);
    SimBoardSet(&r.board, [](SimBoardState &st) { EXPECT_EQ(st.fanPercent, 50); });
    EXPECT_NEAR(r.w()->temp1.load(), 45.0f, 0.3f);
    r.Stop();
    r.w()->fanTab = nullptr;
}

size_t CountText(const std::vector<SimFrame> &f, const std::string &text) {
    size_t n = 0;
    for (const auto &fr : f)
        if (fr.text == text) n++;
    return n;
}

size_t IndexOf(const std::vector<SimFrame> &f, const std::string &text) {
    for (size_t i = 0; i < f.size(); i++)
        if (f[i].text == text) return i;
    return f.size();
}

// Fills the ring to its 29 places with tuner-word codes (each differs from the
// one before it, so none is a repeat).
void FillRing(Works *w) {
    for (int i = 0; CmdQueuePending(w) < 29; i++)
        ASSERT_EQ(IncPNTIn_CMDLinear(i % 2 == 0 ? 39 : 40, w), 0);
}

// A band table, filter table and fan table for the settings tests: 40 m has
// its own thresholds, filter 3 covers it, the fan runs at 50 % at 45 degrees.
struct BandSettings {
    BandConfig bands[3]{};
    FanRow fan[3] = {{30.0f, 0}, {40.0f, 50}, {50.0f, 100}};
    explicit BandSettings(Works *w) {
        bands[0] = {1800000, 0, 5e-6f, 3e-6f, 5e-6f, 0.0f, 20.0f, 10.0f, 50.0f, 500.0f, {}, {}, 0};
        bands[1] = {7000000, 0, 5e-6f, 3e-6f, 5e-6f, 0.0f, 25.0f, 12.0f, 30.0f, 60.0f, {}, {}, 0};
        bands[2].fStart = 7300000;
        w->bandTab = bands;
        w->bandTabCount = 3;
        w->filterTab[0] = {1800000, 2000000, 1};
        w->filterTab[2] = {6900000, 7300000, 1};
        w->fanTab = fan;
        w->fanTabCount = 3;
        w->freq = 7050000;
    }
    static std::string Ts() {
        // sqrt(25 / 5e-6), sqrt(60 / 5e-6), sqrt(30 / 3e-6), 12 * 4096 / 14.05
        return "TS2236346431623498;";
    }
};

TEST(LinearLink, PowerOnAt70DegreesWithAFullRing) {
    LinkRig r;
    Works *w = r.w();
    w->errSuspend = 1; // power-on: no error recorded until the board's "CP"
    w->fanPercent = 100;
    SimBoardSet(&r.board, [](SimBoardState &st) {
        st.temp1 = 70.0f;
        st.temp2 = 40.0f;
    });
    InitMicroCmd(w);
    FillRing(w);
    r.Start();
    ASSERT_TRUE(r.WaitFor(
        [](const std::vector<SimFrame> &f) {
            size_t mr = IndexOf(f, "MR0;");
            return mr < f.size() && CountText(f, "AB0;") > 0 && f.size() > mr + 12;
        },
        10000));
    r.Stop();
    auto f = r.Frames();
    // The alarm's codes reach the wire once each, protection first; the
    // start-up "MP0;" that would have switched it off again is superseded.
    EXPECT_EQ(CountText(f, "MP1;"), 1u);
    EXPECT_EQ(CountText(f, "AT11;"), 1u);
    EXPECT_EQ(CountText(f, "AB0;"), 1u);
    EXPECT_EQ(CountText(f, "MP0;"), 0u);
    EXPECT_LT(IndexOf(f, "MP1;"), IndexOf(f, "VSM;"));
    EXPECT_LT(IndexOf(f, "CPFFFF;"), IndexOf(f, "AB0;")) << "stand-by code once errors count";
    // Every code of the ring went out too: 29 - "MP0;" + the alarm's three.
    size_t commands = 0;
    for (const auto &fr : f)
        if (fr.text != "ST;" && fr.text != "FM;") commands++;
    EXPECT_EQ(commands, 29u - 1u + 3u);
    EXPECT_EQ(ExistError(w, 2), 1);
    SimBoardSet(&r.board, [](SimBoardState &st) {
        EXPECT_TRUE(st.protection);
        EXPECT_TRUE(st.pad3 && st.pad2);
    });
}

TEST(LinearLink, FilterAndThresholdsChosenWhileTheRingIsFullReachTheBoard) {
    LinkRig r;
    Works *w = r.w();
    BandSettings bs(w);
    w->fanPercent = 50;
    SimBoardSet(&r.board, [](SimBoardState &st) { st.temp1 = st.temp2 = 45.0f; });
    FillRing(w);
    SetFilterFromfreq(w);
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(w->filterBits.load(), 0x04);
    EXPECT_EQ(w->tuneBand.load(), 1);
    // The same frequency again: nothing more to send.
    SetFilterFromfreq(w);
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(CmdQueuePending(w), 31);
    r.Start();
    ASSERT_TRUE(
        r.WaitFor([](const std::vector<SimFrame> &f) { return f.size() > 2 * 31 + 4; }, 10000));
    r.Stop();
    auto f = r.Frames();
    EXPECT_EQ(CountText(f, "SF3000004;"), 1u);
    EXPECT_EQ(CountText(f, BandSettings::Ts()), 1u);
    SimBoardSet(&r.board, [](SimBoardState &st) {
        EXPECT_EQ(st.filterMask, 0x04);
        EXPECT_EQ(st.ts[0], 2236);
        EXPECT_EQ(st.ts[3], 3498);
    });
    w->bandTab = nullptr;
    w->fanTab = nullptr;
}

TEST(LinearLink, CutReplyFollowedByAFullOneRaisesNoTrip) {
    LinkRig r;
    Works *w = r.w();
    w->fanPercent = 100;
    w->microReady = 1;
    // Transmitting with a forward reading of 1990: merged behind a cut reply,
    // its digits would land where S2 is read (0x99: trips and a micro reset).
    SimBoardSet(&r.board, [](SimBoardState &st) {
        st.microReset = false;
        st.bypass = false;
        st.fwdW = 5.156579e-6f * 1990.0f * 1990.0f;
    });
    r.Start();
    ASSERT_TRUE(r.WaitCount(4, 3000));
    SimBoardFault(&r.board, [](SimBoardFaults &fl) {
        fl.cut = 1;
        fl.cutOn = "ST";
    });
    ASSERT_TRUE(r.WaitFor(
        [](const std::vector<SimFrame> &f) {
            for (size_t i = 0; i + 6 < f.size(); i++)
                if (f[i].text == "ST;" && f[i + 1].text == "ST;") return true;
            return false;
        },
        6000));
    size_t n = r.Frames().size();
    ASSERT_TRUE(r.WaitCount(n + 6, 3000));
    r.Stop();
    EXPECT_EQ(r.w()->rawPwr[1].load(), 1990);
    EXPECT_EQ(w->boardStatus[2].load(), 0);
    EXPECT_EQ(w->errCount.load(), 0) << "no trip, no micro reset, no link error";
    EXPECT_EQ(w->retryTotal.load(), 1);
    EXPECT_EQ(w->retryStops.load(), 0);
}

TEST(LinearLink, ErrorResetAfterAMicroResetSendsTheBandSettingsAgain) {
    LinkRig r;
    Works *w = r.w();
    InitErrTab(w);
    BandSettings bs(w);
    w->ModeWorkIdx = 1;
    SimBoardSet(&r.board, [](SimBoardState &st) { st.temp1 = st.temp2 = 45.0f; });
    InitMicroCmd(w);
    SetFilterFromfreq(w);
    auto settled = [&](const std::vector<SimFrame> &) {
        bool ok = false;
        SimBoardSet(&r.board, [&](SimBoardState &st) {
            ok = st.filterMask == 0x04 && st.ts[0] == 2236 && st.fanPercent == 50 && !st.microReset;
        });
        return ok && CmdQueueEmpty(w);
    };
    r.Start();
    ASSERT_TRUE(r.WaitFor(settled, 8000));
    EXPECT_EQ(w->microReady.load(), 1);
    SimBoardFault(&r.board, [](SimBoardFaults &fl) { fl.hotStart = true; });
    ASSERT_TRUE(
        r.WaitFor([&](const std::vector<SimFrame> &) { return ExistError(w, 16) == 1; }, 3000));
    size_t from = r.Frames().size();
    EXPECT_EQ(GPIO_Errori(w), 1); // key 1 acknowledges the micro reset
    ASSERT_TRUE(r.WaitFor(settled, 8000));
    // The warning goes for good once the board has its settings back (a status
    // reply already on its way at the key press may have raised it once more).
    if (ExistError(w, 16)) GPIO_Errori(w);
    ASSERT_TRUE(r.WaitCount(r.Frames().size() + 6, 3000));
    EXPECT_EQ(ExistError(w, 16), 0);
    r.Stop();
    std::vector<SimFrame> after = r.Frames();
    after.erase(after.begin(), after.begin() + static_cast<long>(from));
    EXPECT_EQ(CountText(after, BandSettings::Ts()), 1u);
    EXPECT_EQ(CountText(after, "SF3000004;"), 1u);
    EXPECT_EQ(CountText(after, "FN1050;"), 1u);
    EXPECT_EQ(CountText(after, "FA00007050000;"), 1u);
    EXPECT_EQ(CountText(after, "MR0;"), 1u);
    w->bandTab = nullptr;
    w->fanTab = nullptr;
}

TEST(LinearLink, AlarmRecordSurvivesTheNextTransmission) {
    LinkRig r;
    Works *w = r.w();
    w->fanPercent = 100;
    w->tempLogOn = 1;
    SimBoardSet(&r.board, [](SimBoardState &st) {
        st.microReset = false;
        st.temp1 = 70.0f;
    });
    const std::string log = r.root.Path("/opt/set/LOGtemp.txt");
    r.Start();
    ASSERT_TRUE(
        r.WaitFor([&](const std::vector<SimFrame> &) { return ExistError(w, 2) == 1; }, 3000));
    SimBoardSet(&r.board, [](SimBoardState &st) { st.driveW = 10.0f; }); // transmit
    ASSERT_TRUE(r.WaitFor(
        [&](const std::vector<SimFrame> &) { return w->tempLogStarted.load() == 1; }, 3000));
    r.Stop();
    std::string prev = ReadWholeFile(log + ".1");
    EXPECT_NE(prev.find(" , 0,70.0,"), std::string::npos) << prev;
    EXPECT_NE(prev.find(" -> protezione attiva\n"), std::string::npos) << prev;
    std::string now = ReadWholeFile(log);
    EXPECT_EQ(now.rfind(";TX,Temp1,Temp2,FDD,SWR\n", 0), 0u) << now;
    EXPECT_NE(now.find(" , 1,"), std::string::npos) << now;
}

TEST(LinearLink, KeepsRunningThroughGarbageAndBrokenReplies) {
    LinkRig r;
    r.w()->fanPercent = 100;
    r.Start();
    ASSERT_TRUE(r.WaitCount(4, 10000));
    SimBoardFault(&r.board,
                  [](SimBoardFaults &fl) { fl.garbage = std::string("\x01\xff zz;;", 7); });
    ASSERT_TRUE(r.WaitCount(10, 5000));
    SimBoardFault(&r.board, [](SimBoardFaults &fl) { fl.cut = 1; });
    ASSERT_TRUE(r.WaitCount(16, 8000));
    SimBoardFault(&r.board, [](SimBoardFaults &fl) {
        fl.lowerCrc = 2;
        fl.badCrc = 1;
        fl.refuse = 1;
        fl.refuseChar = '&';
    });
    size_t n = r.Frames().size();
    ASSERT_TRUE(r.WaitCount(n + 8, 8000));
    // Back to the plain alternation at the end.
    auto t = Texts(r.Frames());
    size_t last = t.size() - 1;
    EXPECT_NE(t[last], t[last - 1]);
    EXPECT_LT(r.Stop(), 2000u);
    for (const auto &f : r.Frames())
        EXPECT_TRUE(f.crcOk) << f.text;
    // Each broken reply cost a retry, none ran out, and none was read as a
    // status: no phantom trip, nothing in the error list.
    EXPECT_GE(r.w()->retryTotal.load(), 4);
    EXPECT_EQ(r.w()->retryStops.load(), 0);
    EXPECT_EQ(r.w()->errCount.load(), 0);
    EXPECT_EQ(r.w()->boardStatus[2].load(), 0x80) << "the board's own S2 (micro reset bit)";
}

TEST(LinearLink, PortThatCannotOpenIsReportedAndLeftAlone) {
    ScopedSimRoot root;
    TestUnit u;
    SET_SLOT(u.setup.LinPort, "/dev/ttyNONE");
    u.setup.EnableLinear = '1';
    testing::internal::CaptureStderr();
    pthread_t th;
    ASSERT_EQ(pthread_create(&th, nullptr, Linear, u.w()), 0);
    SleepMs(100);
    EXPECT_EQ(u.w()->portError.load(), 1);
    EXPECT_STREQ(u.w()->portErrorText, "Linear: Unable to open device /dev/ttyNONE");
    uint64_t t0 = NowMs();
    u.w()->running = 0;
    pthread_join(th, nullptr);
    EXPECT_LT(NowMs() - t0, 2000u);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Unable to open device /dev/ttyNONE"), std::string::npos);
}

// The board model shows the intended watts through the band coefficients.
TEST(SimBoard, StatusReadingsDecodeToTheModelsWatts) {
    TestUnit u;
    Works *w = u.w();
    w->fanPercent = 100;
    // One band around 20 m whose forward and reflected detectors read 1000 at 100 W.
    BandConfig rows[2]{};
    rows[0] = {10000000, 0, 1e-4f, 1e-4f, 4e-4f, 0.0f, 0, 0, 0, 0, {}, {}, 0};
    rows[1].fStart = 20000000;
    w->bandTab = rows;
    w->bandTabCount = 2;
    SimBoardState st;
    st.haveBands = true;
    st.bandStart = {10000000, 20000000};
    st.bandK[0] = {1e-4f, 1.0f};
    st.bandK[1] = {1e-4f, 1.0f};
    st.bandK[2] = {4e-4f, 1.0f};
    st.bandK[3] = {0.0f, 1.0f};
    st.ts[1] = st.ts[2] = st.ts[0] = st.ts[3] = 4095;
    st.bypass = false;
    st.driveW = 25.0f;
    st.gain = 20.0f;
    st.loadSwr = 1.5f;
    st.temp1 = 41.3f;
    st.temp2 = 39.9f;
    uint64_t last = 0;
    std::string reply = SimBoardAnswer(st, "ST;", 1000, &last);
    ASSERT_EQ(reply.size(), 37u) << reply;
    testing::internal::CaptureStderr();
    DecodeCatCmd(w, reply.c_str(), static_cast<int>(reply.size()));
    testing::internal::GetCapturedStderr();
    EXPECT_NEAR(w->pwrIn.load(), 25.0f, 0.1f);
    EXPECT_NEAR(w->pwrFwd.load(), 500.0f, 1.0f);
    EXPECT_NEAR(w->swr.load(), 1.5f, 0.02f);
    EXPECT_NEAR(w->temp1.load(), 41.3f, 0.1f);
    EXPECT_NEAR(w->temp2.load(), 39.9f, 0.1f);
    EXPECT_EQ(w->boardStatus[1].load() & 1, 1) << "transmitting";
    // Thermal model: dissipation heats, the fan cools.
    st.thermalTau = 10.0f;
    SimBoardAnswer(st, "ST;", 61000, &last);
    float hot = st.temp1;
    EXPECT_GT(hot, 41.3f);
    SimBoardAnswer(st, "FN1100;", 61000, &last);
    st.driveW = 0.0f;
    SimBoardAnswer(st, "ST;", 121000, &last);
    EXPECT_LT(st.temp1, hot);
    // Every command gets its echo or answer; wrong formats a refusal.
    EXPECT_EQ(SimBoardAnswer(st, "VSM;", 0, &last), "VSM2.05.03;");
    EXPECT_EQ(SimBoardAnswer(st, "SA3;", 0, &last), "SA3;");
    EXPECT_EQ(st.antenna, 3);
    EXPECT_EQ(SimBoardAnswer(st, "AT10;", 0, &last), "AT10;");
    EXPECT_TRUE(st.pad3 && !st.pad2);
    EXPECT_EQ(SimBoardAnswer(st, "ER0002;", 0, &last).size(), 6u + 64u + 1u);
    EXPECT_EQ(SimBoardAnswer(st, "SA12;", 0, &last), "SA?;");
    EXPECT_EQ(SimBoardAnswer(st, "QQ;", 0, &last), "QQ?;");
    EXPECT_FALSE(SimBoardKnownCommand("MT1abcdef00;")) << "tuner word in upper case";
    EXPECT_FALSE(SimBoardKnownCommand("SF300002A;")) << "filter mask in lower case";
    EXPECT_FALSE(SimBoardKnownCommand("ER0003;"));
    EXPECT_TRUE(SimBoardKnownCommand("GS01;3456789;") == false);
    EXPECT_TRUE(SimBoardKnownCommand("FN1075;"));
    EXPECT_EQ(SimBoardFrame("ST;", true), "4dST;");
    EXPECT_EQ(SimBoardFrame("ST;", false), "4DST;");
    w->bandTab = nullptr;
}

// The board's control input: readings set by hand reach the status reply,
// "FA" comes back as the measured frequency, a hot start forgets the settings.
TEST(SimBoard, ControlInputReadingsAndHotStart) {
    SimBoard b;
    for (const char *line : {"fwd 50", "refl 2", "temp1 55.5", "temp2 41", "tau 0", "aux 2048",
                             "drive 20", "cut ST", "refuse & 2", "s2 20", ""})
        EXPECT_EQ(SimBoardControl(&b, line).rfind("ok", 0), 0u) << line;
    for (const char *line : {"bogus 1", "drive x", "swr 0.5", "fwd"})
        EXPECT_EQ(SimBoardControl(&b, line).rfind("error", 0), 0u) << line;
    EXPECT_EQ(b.faults.cut, 1);
    EXPECT_EQ(b.faults.cutOn, "ST");
    EXPECT_EQ(b.faults.refuse, 2);
    EXPECT_EQ(b.faults.refuseChar, '&');
    SimBoardState &st = b.st;
    uint64_t last = 0;
    EXPECT_EQ(SimBoardAnswer(st, "FA00007074000;", 0, &last), "FA00007074000;");
    EXPECT_EQ(SimBoardAnswer(st, "FM;", 0, &last), "FM000007074000;");
    std::string reply = SimBoardAnswer(st, "ST;", 1000, &last);
    TestUnit u;
    Works *w = u.w();
    w->fanPercent = 100;
    w->errSuspend = 0;
    testing::internal::CaptureStderr();
    DecodeCatCmd(w, reply.c_str(), static_cast<int>(reply.size()));
    testing::internal::GetCapturedStderr();
    EXPECT_NEAR(w->pwrFwd.load(), 50.0f, 0.1f) << reply;
    // The reflected detector reads refl - K3 * fwd, which the decoder adds back.
    EXPECT_NEAR(w->pwrRefl.load(), 2.0f, 0.02f) << reply;
    EXPECT_NEAR(w->pwrIn.load(), 20.0f, 0.2f) << reply;
    EXPECT_EQ(w->rawAux.load(), 2048.0f);
    EXPECT_NEAR(w->temp1.load(), 55.5f, 0.1f);
    EXPECT_NEAR(w->temp2.load(), 41.0f, 0.1f);
    EXPECT_EQ(w->boardStatus[1].load() & 1, 1) << "transmitting";
    EXPECT_EQ(w->boardStatus[2].load() & 0x20, 0x20) << "forced S2 bits";
    EXPECT_EQ(SimBoardControl(&b, "fwd model").rfind("ok", 0), 0u);
    EXPECT_LT(st.fwdW, 0.0f);
    // A micro reset: settings back to power-on, S2 bit 7 until "MR0;".
    SimBoardAnswer(st, "SF3000004;", 0, &last);
    SimBoardAnswer(st, "TS1000200030004000;", 0, &last);
    SimBoardAnswer(st, "FN1075;", 0, &last);
    SimBoardAnswer(st, "MP1;", 0, &last);
    SimBoardAnswer(st, "AB0;", 0, &last);
    SimBoardAnswer(st, "MR0;", 0, &last);
    SimBoardHotStart(st);
    EXPECT_EQ(st.filterMask, 0);
    EXPECT_EQ(st.ts[0], 4095);
    EXPECT_EQ(st.fanPercent, 0);
    EXPECT_FALSE(st.protection);
    EXPECT_TRUE(st.bypass);
    EXPECT_EQ(st.freq, 7074000u) << "the measured frequency stays";
    EXPECT_EQ(st.hotStarts, 1);
    reply = SimBoardAnswer(st, "ST;", 2000, &last);
    EXPECT_EQ(reply[29], 'A') << reply << ": S2 = 0xA0, micro reset and the forced bit";
}

} // namespace
