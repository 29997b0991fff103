// The real link thread against the simulated power board over a pseudo-terminal.
#include "amplifier/cmd_queue.h"
#include "amplifier/commands.h"
#include "amplifier/decode.h"
#include "amplifier/linear.h"
#include "board.h"
#include "config/band_table.h"
#include "config/fan_table.h"
#include "helix_process.h"
#include "platform/clock.h"
#include "core/errors.h"
#include "unit.h"

#include <csignal>
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
                                    36, 37, 38, 10, 11, 15, 16, 8,  0,  32, 7,  9,  12, 13};
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

TEST(LinearLink, KeepsRunningThroughGarbageAndBrokenReplies) {
    LinkRig r;
    r.w()->fanPercent = 100;
    r.Start();
    ASSERT_TRUE(r.WaitCount(4, 2000));
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

// The whole controller on the simulated root, with only the link thread on.
TEST(LinearLink, ControllerProgramTalksToTheBoard) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   "EnableKeyb: 0\nEnableGPIO: 0\nEnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\n"
                   "EnableLinear: 1\nEnableTime: 0\nWebSocket: 0\nEnableFFT: 0\n"
                   "EnableCatSerial: 0\n");
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    uint64_t end = NowMs() + 8000;
    while (NowMs() < end && SimBoardFrames(&board).size() < 2 * kStartUp.size() + 8)
        SleepMs(20);
    auto f = SimBoardFrames(&board);
    ASSERT_GE(f.size(), 2 * kStartUp.size() + 8) << p.Err();
    for (size_t i = 0; i < kStartUp.size(); i++) {
        EXPECT_EQ(f[2 * i].text, "ST;");
        EXPECT_EQ(f[2 * i + 1].text, kStartUp[i]);
    }
    // The bank load applied the working mode (code 35) after the start-up set;
    // no fan table: the first status asked for full speed, queued after that.
    EXPECT_EQ(f[2 * kStartUp.size() + 1].text.substr(0, 2), "GS");
    EXPECT_EQ(f[2 * kStartUp.size() + 3].text, "FN1100;");
    EXPECT_EQ(f[2 * kStartUp.size() + 5].text, "FM;");
    for (const auto &fr : f)
        EXPECT_TRUE(fr.crcOk && fr.known) << fr.text;
    EXPECT_GE(p.Stop(SIGTERM, 6000), 0);
    SimBoardStop(&board);
    EXPECT_NE(p.Err().find("OK works->linFD="), std::string::npos);
}

} // namespace
