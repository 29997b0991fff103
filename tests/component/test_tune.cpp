// The whole controller tunes the simulated tuner: the transceiver keys up,
// the search runs against the board's tuner model, the result is stored in
// the tuner-memory file, and the stored word goes out again when the radio
// comes back to that frequency from another band.
#include "model/tuner_word.h"
#include "board.h"
#include "config/antenna_banks.h"
#include "helix_process.h"
#include "tune_process.h"
#include "panel_keys.h"
#include "platform/clock.h"
#include "radio.h"
#include "unit.h"

#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The link and the supervisor, tuning automatically below SWR 1.5.
const std::string kTuneSwitches =
    "EnableLinear: 1\nEnableTime: 1\nAutoTuneMode: 1\nSWRescAutoTune: 150\nAttenuatorTune: 0\n";
// The transceiver's bank: 40 m and 20 m on antenna 1, tuner in line.
const char *kAntennas = "!Tav\n40m 7000000 7300000 1 1 0 0 100.0\n"
                        "20m 14000000 14350000 1 1 0 0 100.0\n";

TEST(TuneEndToEnd, TransceiverKeysUpTheTuneStoresAndTheWordComesBack) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), SwitchesOff(kTuneSwitches));
    WriteWholeFile(root.Path("/opt/set/antenna_b1.txt"), kAntennas);

    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Tav;
    cfg.catPort = "";
    cfg.freq = 7074000;
    cfg.spectrumPeriodMs = 0;
    TuneProcess rig; // 200 ohm: matched by the antenna-side network
    ASSERT_TRUE(rig.Start(root.root, 200.0, 0.0, cfg)) << rig.Tail();
    SimBoard &board = rig.board;
    SimRadio *radio = rig.radio;
    HelixProcess &p = rig.p;
    auto frames = [&] { return SimBoardFrames(&board); };
    ASSERT_TRUE(WaitUntil([&] { return BoardHeard(&board, "FA00007074000;"); }, kPatienceMs))
        << p.Err();
    ASSERT_TRUE(WaitBoardIdle(&board));

    // Key up: 5 W forward (drive 0.5 W, gain 10, no pad); the supervisor
    // starts the tune.
    SimBoardSet(&board, [](SimBoardState &st) { st.driveW = 0.5f; });
    SimRadioSetTx(radio, 1);
    ASSERT_TRUE(p.WaitFor("START AUTO TUNE")) << p.Err();
    const std::string file = root.Path(BankAtuFile(1, 1));
    // The unit's memory of this bank has entries on 20 m only: 7.074 MHz is
    // entry 2115.
    EXPECT_EQ(AtuFileEntry(file, 2115), "");
    bool stored = WaitUntil([&] { return !AtuFileEntry(file, 2115).empty(); }, kPatienceMs);
    // Unkey. The end of a tune sends the transceiver "RX;"; until its next
    // report shows the carrier gone, the unit may start another tune: the
    // drive (still on) lets it end as the first did, unless that report cuts
    // it short.
    SimRadioSetTx(radio, 0);
    auto count = [&](const std::string &text) {
        std::string err = p.Err();
        int n = 0;
        for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1))
            n++;
        return n;
    };
    // Every tune has ended: stored, or (a second one cut short when the
    // carrier report arrives) with the "no match" error.
    SleepMs(1000);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return count("START AUTO TUNE") ==
                   count("Save Tune To File") + count("ERRORE MAX TUNE");
        },
        kPatienceMs))
        << p.Err();
    bool cut = count("ERRORE MAX TUNE") > 0;
    SleepMs(300);
    uint32_t boardWord = 0;
    SimBoardSet(&board, [&](SimBoardState &st) { boardWord = st.tunerWord; });
    EXPECT_TRUE(stored) << ReadWholeFile(file);
    std::string entry = AtuFileEntry(file, 2115);
    SimBoardSet(&board, [](SimBoardState &st) { st.driveW = 0.0f; });
    SleepMs(500);

    // 20 m (nothing stored: the tuner is cleared), then back to 40 m: the
    // stored word goes out again, and it matches the load.
    SimRadioSetFreq(radio, 14074000);
    EXPECT_TRUE(WaitUntil([&] { return BoardHeard(&board, "FA00014074000;"); }, kPatienceMs))
        << p.Err().substr(p.Err().size() > 3000 ? p.Err().size() - 3000 : 0);
    EXPECT_TRUE(WaitBoardIdle(&board));
    size_t from = frames().size();
    SimRadioSetFreq(radio, 7074000);
    uint32_t word = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::vector<SimFrame> fr = frames();
            for (size_t i = from; i < fr.size(); i++)
                if (std::sscanf(fr[i].text.c_str(), "MT1%8X;", &word) == 1) return true;
            return false;
        },
        kPatienceMs))
        << "the stored word was not sent again";
    char want[64];
    std::snprintf(want, sizeof want, "2115 7075000 1 %d %d %d", DecodeModoFromTuneval(word),
                  DecodeInduttanzaFromTuneval(word), DecodeCapacitaFromTuneval(word));
    EXPECT_EQ(entry, want);
    double swr = 0;
    SimBoardSet(&board, [&](SimBoardState &st) {
        double g = SimBoardReflection(st, word);
        swr = (1 + g) / (1 - g);
    });
    EXPECT_LT(swr, 1.5);
    // Without a second tune cut short, the tune left the stored word in force.
    if (!cut) {
        EXPECT_EQ(boardWord, word);
    }

    EXPECT_GE(p.Stop(SIGTERM), 0);
}

// FT-817 mode: the operator starts the tune from the keys (TUNE opens the tune
// menu, its TUNE key starts the search) while the board transmits into a
// matchable load; the result is stored and comes back after another band.
TEST(TuneEndToEnd, Ft817TuneFromTheKeysStoresAndTheWordComesBack) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), SwitchesOff(kTuneSwitches + "EnableGPIO: 1\n"));
    WriteWholeFile(root.Path("/opt/set/antenna_b1.txt"), "!817\n40m 7000000 7300000 1 1 0 0 100.0\n"
                                                         "20m 14000000 14350000 1 1 0 0 100.0\n");

    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Ft817;
    cfg.freq = 7074000;
    TuneProcess rig; // 200 ohm: matched by the antenna-side network
    ASSERT_TRUE(rig.Start(root.root, 200.0, 0.0, cfg)) << rig.Tail();
    SimBoard &board = rig.board;
    SimRadio *radio = rig.radio;
    HelixProcess &p = rig.p;
    auto frames = [&] { return SimBoardFrames(&board); };
    auto tail = [&] { return rig.Tail(); };
    // The polled frequency reaches the board once the unit is up.
    ASSERT_TRUE(WaitUntil([&] { return BoardHeard(&board, "FA00007074000;"); }, kPatienceMs))
        << tail();
    ASSERT_TRUE(WaitBoardIdle(&board));
    const std::string file = root.Path(BankAtuFile(1, 1));
    ASSERT_EQ(AtuFileEntry(file, 2115), "");
    double before = 0;
    SimBoardSet(&board, [&](SimBoardState &st) {
        double g = SimBoardReflection(st, st.tunerWord);
        before = (1 + g) / (1 - g);
        st.driveW = 0.5f; // the operator keys the radio: 5 W into the amplifier
    });
    EXPECT_GT(before, 2.0) << "the load must need the tuner";

    // Main menu TUNE, then the tune menu's TUNE.
    ASSERT_EQ(SimKeyHold(root.root, 4, 200), 0);
    SleepMs(600);
    ASSERT_EQ(SimKeyHold(root.root, 4, 200), 0);
    ASSERT_TRUE(p.WaitFor("START AUTO TUNE")) << tail();
    bool stored = WaitUntil([&] { return !AtuFileEntry(file, 2115).empty(); }, kPatienceMs);
    EXPECT_TRUE(stored) << tail();
    SleepMs(500);
    SimBoardSet(&board, [](SimBoardState &st) { st.driveW = 0.0f; });

    uint32_t word = 0;
    double swr = 0;
    SimBoardSet(&board, [&](SimBoardState &st) {
        word = st.tunerWord;
        double g = SimBoardReflection(st, word);
        swr = (1 + g) / (1 - g);
    });
    EXPECT_LT(swr, 1.5);
    char entry[64];
    std::snprintf(entry, sizeof entry, "2115 7075000 1 %d %d %d", DecodeModoFromTuneval(word),
                  DecodeInduttanzaFromTuneval(word), DecodeCapacitaFromTuneval(word));
    EXPECT_EQ(AtuFileEntry(file, 2115), entry);

    // 20 m, then back to 40 m: the stored word goes out again.
    SimRadioSetFreq(radio, 14074000);
    EXPECT_TRUE(WaitUntil([&] { return BoardHeard(&board, "FA00014074000;"); }, kPatienceMs))
        << tail();
    EXPECT_TRUE(WaitBoardIdle(&board));
    size_t from = frames().size();
    SimRadioSetFreq(radio, 7074000);
    char want[16];
    std::snprintf(want, sizeof want, "MT1%08X;", word);
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::vector<SimFrame> fr = frames();
            for (size_t i = from; i < fr.size(); i++)
                if (fr[i].text == want) return true;
            return false;
        },
        kPatienceMs))
        << "the stored word " << want << " was not sent again\n"
        << tail();
    EXPECT_GE(p.Stop(SIGTERM), 0);
}

} // namespace
