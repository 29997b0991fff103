// The whole controller on a simulated root with the simulated board: a press
// of IN-ATT on the panel (through the root's dev/mem) reaches the board as an
// attenuator command.
#include "board.h"
#include "helix_process.h"
#include "panel_keys.h"
#include "platform/clock.h"
#include "unit.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>

namespace {

const char *kSetup = "EnableKeyb: 0\nEnableGPIO: 1\nEnableLinear: 1\nEnableTime: 1\n"
                     "WebSocket: 0\nEnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableFFT: 0\n";

size_t CountAt(SimBoard *board) {
    size_t n = 0;
    for (const SimFrame &f : SimBoardFrames(board))
        if (f.text.rfind("AT", 0) == 0 && f.crcOk && f.known) n++;
    return n;
}

TEST(KeysEndToEnd, AttenuatorKeyReachesTheBoard) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), kSetup);
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));

    // After the splash the supervisor sets the amplifier in line ("AB0;"); the
    // start-up sends no attenuator command, so any that follows is the key's.
    bool started = WaitUntil(
        [&] {
            for (const SimFrame &f : SimBoardFrames(&board))
                if (f.text == "AB0;") return true;
            return false;
        },
        40000);
    if (!started) {
        ADD_FAILURE() << "the unit did not come up\n" << p.Err();
        p.Stop(SIGTERM, 8000);
        SimBoardStop(&board);
        return;
    }
    SleepMs(1500);
    size_t before = CountAt(&board);
    // Two short presses: at least one of them is a 0-5 dB step (the other may
    // be standby).
    EXPECT_EQ(SimKeyHold(root.root, 2, 200), 0);
    SleepMs(300);
    EXPECT_EQ(SimKeyHold(root.root, 2, 200), 0);
    EXPECT_TRUE(WaitUntil([&] { return CountAt(&board) > before; }, 5000))
        << "no attenuator command after the key\n"
        << p.Err();
    EXPECT_GE(p.Stop(SIGTERM, 8000), 0);
    SimBoardStop(&board);
}

} // namespace
