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

size_t CountAt(SimBoard *board) {
    size_t n = 0;
    for (const SimFrame &f : SimBoardFrames(board))
        if (f.text.rfind("AT", 0) == 0 && f.crcOk && f.known) n++;
    return n;
}

TEST(KeysEndToEnd, AttenuatorKeyReachesTheBoard) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   SwitchesOff("EnableGPIO: 1\nEnableLinear: 1\nEnableTime: 1\n"));
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));

    // After the splash the supervisor sets the amplifier in line ("AB0;"); the
    // start-up sends no attenuator command, so any that follows is the key's.
    if (!WaitUntil([&] { return BoardHeard(&board, "AB0;"); }, kPatienceMs) ||
        !WaitBoardIdle(&board)) {
        ADD_FAILURE() << "the unit did not come up\n" << p.Err();
        p.Stop(SIGTERM);
        SimBoardStop(&board);
        return;
    }
    size_t before = CountAt(&board);
    // Two short presses: at least one of them is a 0-5 dB step (the other may
    // be standby).
    EXPECT_EQ(SimKeyHold(root.root, 2, 200), 0);
    SleepMs(300);
    EXPECT_EQ(SimKeyHold(root.root, 2, 200), 0);
    EXPECT_TRUE(WaitUntil([&] { return CountAt(&board) > before; }, kPatienceMs))
        << "no attenuator command after the key\n"
        << p.Err();
    EXPECT_GE(p.Stop(SIGTERM), 0);
    SimBoardStop(&board);
}

} // namespace
