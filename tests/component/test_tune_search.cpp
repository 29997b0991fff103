// The whole controller with "TuneSearch: 1": a tune started from the keys
// (FT-817 mode, 5 W into a load that needs the tuner) runs the model search,
// stores its word, and the word goes out again after a visit to another band.
#include "board.h"
#include "config/antenna_banks.h"
#include "helix_process.h"
#include "tune_process.h"
#include "model/tuner_word.h"
#include "panel_keys.h"
#include "platform/clock.h"
#include "radio.h"
#include "unit.h"

#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string EntryLine(const std::string &text, int idx) {
    std::istringstream in(text);
    std::string line, key = std::to_string(idx) + " ";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return line;
    return "";
}

TEST(TuneSearchEndToEnd, ModelSearchFromTheKeysStoresAndTheWordComesBack) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   "EnableKeyb: 0\nEnableGPIO: 1\nEnableLinear: 1\nEnableTime: 1\n"
                   "WebSocket: 0\nEnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableFFT: 0\n"
                   "AutoTuneMode: 1\nSWRescAutoTune: 150\nAttenuatorTune: 0\n");
    WriteWholeFile(root.Path("/opt/set/options.txt"), "TuneSearch: 1\n");
    WriteWholeFile(root.Path("/opt/set/antenna_b1.txt"), "!817\n40m 7000000 7300000 1 1 0 0 100.0\n"
                                                         "20m 14000000 14350000 1 1 0 0 100.0\n");
    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Ft817;
    cfg.freq = 7074000;
    TuneProcess rig; // 10 + j60 ohm: only the antenna-side arrangement matches it, far from L 0, C 0
    ASSERT_TRUE(rig.Start(root.root, 10.0, 60.0, cfg)) << rig.Tail();
    SimBoard &board = rig.board;
    SimRadio *radio = rig.radio;
    HelixProcess &p = rig.p;
    auto sent = [&](const std::string &text, size_t from) {
        std::vector<SimFrame> fr = SimBoardFrames(&board);
        for (size_t i = from; i < fr.size(); i++)
            if (fr[i].text == text) return true;
        return false;
    };
    auto tail = [&] { return rig.Tail(); };
    ASSERT_TRUE(WaitUntil([&] { return sent("FA00007074000;", 0); }, 40000)) << tail();
    SleepMs(1500);
    const std::string file = root.Path(BankAtuFile(1, 1));
    ASSERT_EQ(EntryLine(ReadWholeFile(file), 2115), "");
    SimBoardSet(&board, [](SimBoardState &st) { st.driveW = 0.5f; }); // 5 W forward

    // Main menu TUNE, then the tune menu's TUNE.
    ASSERT_EQ(SimKeyHold(root.root, 4, 200), 0);
    SleepMs(600);
    ASSERT_EQ(SimKeyHold(root.root, 4, 200), 0);
    ASSERT_TRUE(p.WaitFor("TUNE SEARCH: model", 10000)) << tail();
    EXPECT_TRUE(WaitUntil([&] { return !EntryLine(ReadWholeFile(file), 2115).empty(); }, 40000))
        << tail();
    SleepMs(500);
    uint32_t word = 0;
    double swr = 0;
    SimBoardSet(&board, [&](SimBoardState &st) {
        st.driveW = 0.0f;
        word = st.tunerWord;
        double g = SimBoardReflection(st, word);
        swr = (1 + g) / (1 - g);
    });
    EXPECT_LT(swr, 1.2) << "the best setting is about 1.01";
    char entry[64];
    std::snprintf(entry, sizeof entry, "2115 7075000 1 %d %d %d", DecodeModoFromTuneval(word),
                  DecodeInduttanzaFromTuneval(word), DecodeCapacitaFromTuneval(word));
    EXPECT_EQ(EntryLine(ReadWholeFile(file), 2115), entry);

    // 20 m, then back to 40 m: the stored word goes out again.
    SimRadioSetFreq(radio, 14074000);
    EXPECT_TRUE(WaitUntil([&] { return sent("FA00014074000;", 0); }, 10000)) << tail();
    SleepMs(1500);
    size_t from = SimBoardFrames(&board).size();
    SimRadioSetFreq(radio, 7074000);
    char want[16];
    std::snprintf(want, sizeof want, "MT1%08X;", word);
    EXPECT_TRUE(WaitUntil([&] { return sent(want, from); }, 10000))
        << "the stored word " << want << " was not sent again\n"
        << tail();
    EXPECT_GE(p.Stop(SIGTERM, 8000), 0);
}

} // namespace
