// The whole unit (simulated board and radio, keys pressed in dev/mem): tunes,
// manual stores, the fault history; and the page the saver's wake brings back.
#include "board.h"
#include "config/antenna_banks.h"
#include "helix_process.h"
#include "model/fault_history.h"
#include "model/tuner_word.h"
#include "panel_keys.h"
#include "platform/clock.h"
#include "radio.h"
#include "screenshot.h"
#include "supervisor/timer.h"
#include "ui/keys.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>

namespace {

constexpr auto npos = std::string::npos;

struct Rig {
    ScopedSimRoot root;
    SimBoard board;
    SimRadio *radio = nullptr;
    HelixProcess p;
    // `marker` sets bank 1's working mode; FT-817 mode gets a radio.
    explicit Rig(const char *marker) {
        WriteWholeFile(
            root.Path("/opt/set/setup.txt"),
            "EnableKeyb: 0\nEnableGPIO: 1\nEnableLinear: 1\nEnableTime: 1\nWebSocket: 0\n"
            "EnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableFFT: 0\nAutoTuneMode: 1\n");
        std::string bank = ReadWholeFile(root.Path(BankAntennaFile(1)));
        WriteWholeFile(root.Path(BankAntennaFile(1)), marker + bank.substr(bank.find('\n')));
        EXPECT_EQ(SimBoardStart(&board, root.root), 0);
        if (std::string(marker) == "!817")
            radio = SimRadioStart(SimRadioConfig{SimRadioKind::Ft817, root.root});
        EXPECT_TRUE(p.Start(root.Path("/err.txt")));
    }
    ~Rig() {
        p.Stop(SIGTERM, 8000);
        SimRadioStop(radio);
        SimBoardStop(&board);
    }
    void Set(const std::function<void(SimBoardState &)> &fn) { SimBoardSet(&board, fn); }
    void Drive(float w) {
        SimBoardSet(&board, [w](SimBoardState &st) { st.driveW = w; });
    }
    std::string Wire() {
        std::string s;
        for (const SimFrame &f : SimBoardFrames(&board))
            s += f.text + "\n";
        return s;
    }
    void Keys(std::initializer_list<int> keys) {
        for (int k : keys) {
            EXPECT_EQ(SimKeyHold(root.root, k, 150), 0);
            SleepMs(300);
        }
    }
};

// Every line of the history, oldest first; each must read back.
std::vector<FaultEntry> Entries(const std::string &text) {
    std::vector<FaultEntry> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        EXPECT_TRUE(FaultHistoryParse(line, &out.emplace_back())) << line;
    return out;
}

TEST(FieldFaultsEndToEnd, TuneKeepsItsTableAndStoringLeavesTheTuner) {
    Rig u("!817");
    u.Set([](SimBoardState &st) {
        st.tunerModel = true;
        st.load = SimLoad{SimLoadKind::Fixed, 800.0, 0.0};
    });
    const std::string ant2b1 = u.root.Path(BankAtuFile(1, 2)), stored = ReadWholeFile(ant2b1);
    // 20 m: the stored word of 14.070 MHz (L 42, C 118, CL) is in force.
    ASSERT_TRUE(WaitUntil([&] { return u.Wire().find("MT100805C9C;") != npos; }, 40000));
    SleepMs(1000);

    // TUNE, TUNE on 20 m; the radio moves to 40 m before the carrier comes.
    u.Keys({4, 4});
    ASSERT_TRUE(u.p.WaitFor("START AUTO TUNE", 5000)) << u.p.Err();
    size_t from = u.Wire().size();
    SimRadioSetFreq(u.radio, 7074000);
    SleepMs(300);
    u.Drive(0.5f);
    ASSERT_TRUE(WaitUntil([&] { return u.Wire().find("SA2;", from) != npos; }, 15000));
    EXPECT_LT(u.Wire().find("MT100805C9C;", from), u.Wire().find("SA2;", from));
    SleepMs(3000);
    EXPECT_EQ(ReadWholeFile(ant2b1), stored);
    EXPECT_EQ(u.p.Err().find("Save Tune"), npos);
    EXPECT_EQ(u.p.Err().find("err:18"), npos);

    // A 40 m tune waits for its carrier: MANUAL ends it first (nothing
    // stored), BACK and ESC leave the menus; the carrier finds no tune.
    u.Drive(0.0f);
    size_t err = u.p.Err().size();
    u.Keys({4});
    ASSERT_TRUE(WaitUntil([&] { return u.p.Err().find("START AUTO TUNE", err) != npos; }, 5000));
    u.Keys({6, 1, 1});
    u.Drive(0.5f);
    SleepMs(3000);
    EXPECT_EQ(u.p.Err().find("SaveTabAtu", err), npos) << u.p.Err();
    EXPECT_EQ(ReadWholeFile(u.root.Path("/opt/set/setup.txt")).find("NumBanco: 2"), npos);
    u.Drive(0.0f);

    // Manual L up twice, stored into bank 2: the tuner keeps the word.
    u.Keys({4, 6, 3, 3});
    uint32_t w = 0;
    u.Set([&](SimBoardState &st) { w = st.tunerWord; });
    char want[48]; // the whole line of entry 2115
    std::snprintf(want, sizeof want, "2115 7075000 1 %d %d %d\n", DecodeModoFromTuneval(w),
                  DecodeInduttanzaFromTuneval(w), DecodeCapacitaFromTuneval(w));
    u.Keys({1, 2});
    from = u.Wire().size();
    u.Keys({6});
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadWholeFile(u.root.Path(BankAtuFile(2, 2))).find(want) != npos; }, 5000));
    SleepMs(1500);
    EXPECT_EQ(u.Wire().find("MT1", from), npos);
    EXPECT_EQ(u.Wire().find("GS", from), npos);
    // One MANUAL opens the manual menu again; BACK, SAVE: bank 1 gets the same word.
    u.Keys({6, 1, 6});
    EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(ant2b1).find(want) != npos; }, 5000)) << want;
}

// A trip, an alarm and a micro reset, then trips on and off and a kill; then
// a line torn by a power cut: never read, and cut away by the next append.
TEST(FaultHistoryEndToEnd, TripAlarmMicroResetAndAKill) {
    Rig u("!Gen");
    const std::string file = u.root.Path(kFaultsPath);
    u.Drive(1.0f);
    ASSERT_TRUE(WaitUntil([&] { return u.Wire().find("AB0;") != npos; }, 40000)) << u.p.Err();
    SleepMs(1500); // the amplifier in line: 10 W forward
    u.Set([](SimBoardState &st) { st.s2Extra = 0x01; });
    ASSERT_TRUE(u.p.WaitFor("err:15\n", 5000)) << u.p.Err();
    u.Set([](SimBoardState &st) { st.s2Extra = 0, st.driveW = 2.0f, st.temp1 = 75.0f; });
    ASSERT_TRUE(u.p.WaitFor("err:2\n", 5000)) << u.p.Err();
    SimBoardFault(&u.board, [](SimBoardFaults &f) { f.hotStart = true; });
    std::vector<FaultEntry> got;
    auto three = [&] {
        got.clear();
        for (const FaultEntry &e : Entries(ReadWholeFile(file)))
            if (e.code == 15 || e.code == 2 || e.code == 16) got.push_back(e);
        return got.size() >= 3;
    };
    ASSERT_TRUE(WaitUntil(three, 5000) && got.size() == 3) << ReadWholeFile(file);
    EXPECT_TRUE(got[0].code == 15 && got[1].code == 2 && got[2].code == 16);
    EXPECT_NEAR(got[0].fwd, 10.0f, 1.5f);
    EXPECT_LT(got[0].t1, 30.0f);
    EXPECT_NEAR(got[1].fwd, 20.0f, 2.5f);
    EXPECT_GT(got[1].t1, 60.0f);
    EXPECT_GT(got[2].t1, 60.0f);
    for (const FaultEntry &e : got)
        EXPECT_TRUE(e.freq == 14070000 && e.bank == 1 && e.ant == 1 &&
                    e.mode == std::string("Gen"))
            << ReadWholeFile(file);
    std::atomic<bool> stop{false}; // trips on and off, and a kill among them
    std::thread flood([&] {
        for (uint8_t bit = 1; !stop; bit ^= 1, SleepMs(60))
            u.Set([bit](SimBoardState &st) { st.s2Extra = bit; });
    });
    SleepMs(1500);
    u.p.Stop(SIGKILL, 5000);
    stop = true;
    flood.join();
    std::string text = ReadWholeFile(file);
    ASSERT_EQ(text.back(), '\n');
    size_t whole = Entries(text).size();
    EXPECT_GT(whole, 3u);
    WriteWholeFile(file, text + "2026-12-07 21:49:33 ADD 4 \"Comm");
    EXPECT_EQ(FaultHistoryRead(1000).size(), whole);
    TestUnit t;
    FaultHistoryRecord(t.w(), 17, kFaultAdded);
    EXPECT_EQ(FaultHistoryFlush(t.w()), 1);
    EXPECT_EQ(ReadWholeFile(file).compare(0, text.size(), text), 0);
    EXPECT_EQ(Entries(ReadWholeFile(file)).size(), whole + 1);
}

// Five idle minutes on the passes' own clock; the open page, without TX marker.
TEST(FieldFaults, SaverWakeRestoresTheOpenPage) {
    for (auto [flags, image] : {std::pair{kScreenStatus, "status"}, {kScreenMemory, "statusB"}}) {
        ScopedSimRoot root;
        ScreenUnit u;
        Works *w = u.w();
        SupervisorState st;
        uint64_t now = 1000000;
        SupervisorStart(w, &st, now);
        SupervisorStep(w, &st, now += 10);
        w->boardStatus[1] = 1; // transmitting
        w->screenFlags = flags;
        u.Background(image);
        SupervisorStep(w, &st, now += 10);
        const size_t rows = w->fb.lineSize * 380; // above the status page's clock
        std::vector<uint8_t> page(w->fb.screenMem, w->fb.screenMem + rows);
        const uint8_t *tx = &page[190 * w->fb.lineSize + 400 * 4];
        EXPECT_FALSE(tx[2] == 250 && tx[1] == 0) << image << ": TX marker over the page";
        SupervisorStep(w, &st, now += 6 * 60000);
        ASSERT_STREQ(w->imageName, "start");
        DecodeTasto(w, 3, 0);
        EXPECT_STREQ(w->imageName, image);
        SupervisorStep(w, &st, now += 10);
        EXPECT_EQ(std::memcmp(page.data(), w->fb.screenMem, rows), 0) << image;
    }
}

} // namespace
