// The whole controller with the simulated board and an FT-817: the radio
// moves to another band and the board receives what the new band needs, in
// the order it was queued; the information bar names the new band.
#include "config/antenna_banks.h"
#include "model/tuner_word.h"
#include "board.h"
#include "helix_process.h"
#include "platform/clock.h"
#include "radio.h"
#include "screenshot.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char *kBands = "1800000 2000000 100 1000 10 500 5 250 0 20 10 100 600\n"
                     "7000000 7300000 100 1000 10 500 5 250 0 20 10 100 600\n"
                     "14000000 14350000 100 1000 10 500 5 250 0 20 12 100 600\n"
                     "30000000 54000000 100 1000 10 500 5 250 0 20 10 100 600\n";
const char *kFilters = "7000000 7300000 1\n14000000 14350000 1\n";
// 40 m on antenna 2 with the tuner in line, 20 m on antenna 1.
const char *kAntennas = "!817\n40m 7000000 7300000 1 2 0 0 100.0\n"
                        "20m 14000000 14350000 1 1 0 0 100.0\n";
// A stored solution at 7.075 MHz (entry 2115) for antenna 2: CL, L 120, C 200.
const char *kTune = "2115 7075000 1 1 120 200\n";

// Index of the first frame at or after `from` whose text starts with `prefix`.
long FirstFrame(const std::vector<SimFrame> &f, size_t from, const std::string &prefix) {
    for (size_t i = from; i < f.size(); i++)
        if (f[i].text.rfind(prefix, 0) == 0) return static_cast<long>(i);
    return -1;
}

TEST(SupervisorEndToEnd, RadioChangesBandAndTheBoardFollows) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   SwitchesOff("EnableLinear: 1\nEnableTime: 1\n"));
    WriteWholeFile(root.Path("/opt/set/config.txt"), kBands);
    WriteWholeFile(root.Path("/opt/set/filter.txt"), kFilters);
    WriteWholeFile(root.Path("/opt/set/antenna_b1.txt"), kAntennas);
    WriteWholeFile(root.Path(BankAtuFile(1, 2)), kTune);

    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Ft817;
    cfg.root = root.root;
    cfg.freq = 14074000;
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));

    // The first selection after the splash, all of it sent.
    ASSERT_TRUE(WaitUntil([&] { return BoardHeard(&board, "FA00014074000;"); }, kPatienceMs))
        << p.Err();
    ASSERT_TRUE(WaitBoardIdle(&board));
    size_t from = SimBoardFrames(&board).size();

    SimRadioSetFreq(radio, 7074000);
    ASSERT_TRUE(WaitUntil([&] { return BoardHeard(&board, "FA00007074000;", from); }, kPatienceMs))
        << p.Err();
    // The rest of the set goes out one command per status poll.
    ASSERT_TRUE(WaitBoardIdle(&board));
    std::vector<SimFrame> f = SimBoardFrames(&board);
    long fa = FirstFrame(f, from, "FA00007074000;");
    long sf = FirstFrame(f, from, "SF3000001;");
    long ts = FirstFrame(f, from, "TS");
    EXPECT_LT(fa, sf);
    EXPECT_LT(sf, ts);
    EXPECT_GE(fa, 0);

    long sa = FirstFrame(f, from, "SA2;");
    long mt = FirstFrame(f, from, "MT1");
    EXPECT_LT(ts, sa);
    ASSERT_LT(sa, mt);
    ASSERT_GE(sa, 0);
    uint32_t word = static_cast<uint32_t>(std::strtoul(f[mt].text.c_str() + 3, nullptr, 16));
    EXPECT_EQ(DecodeCapacitaFromTuneval(word), 200) << f[mt].text;
    EXPECT_EQ(DecodeInduttanzaFromTuneval(word), 120) << f[mt].text;

    // The information bar: the band box as drawn for 40 m, not as for 20 m.
    ASSERT_NE(ExpectedBandBox("img1", 7074000), ExpectedBandBox("img1", 14074000));
    EXPECT_TRUE(WaitUntil([&] { return ScreenShowsBand(root.root, 7074000); }, kPatienceMs))
        << "the information bar does not name 40m";
    EXPECT_GE(p.Stop(SIGTERM), 0);
    SimRadioStop(radio);
    SimBoardStop(&board);
}

} // namespace
