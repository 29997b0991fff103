// The whole controller in a simulated root with the simulated board: the
// front-panel keys, pressed through the root's dev/mem, open the parameter
// list, edit MAX BANK and confirm it, and the setup file on disk follows.
#include "board.h"
#include "helix_process.h"
#include "panel_keys.h"
#include "platform/clock.h"
#include "unit.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>

namespace {

// A short press, then time for the release to pass the debounce.
void Press(const std::string &root, int key) {
    ASSERT_EQ(SimKeyHold(root, key, 100), 0);
    SleepMs(150);
}

TEST(ParamEditEndToEnd, SetEditConfirmSavesTheSetupFile) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   SwitchesOff("EnableGPIO: 1\nEnableLinear: 1\nEnableTime: 1\nMAXbank: 20\n"));
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    // The main menu takes the keys once the supervisor runs: it sets the
    // amplifier in line ("AB0;").
    ASSERT_TRUE(WaitUntil([&] { return BoardHeard(&board, "AB0;"); }, kPatienceMs)) << p.Err();
    std::string setup = root.Path("/opt/set/setup.txt");
    ASSERT_EQ(ReadWholeFile(setup).find("MAXbank: 19\n"), std::string::npos);

    Press(root.root, 5); // SET: the parameter list opens on MAX BANK
    Press(root.root, 6); // ENTER: edit
    Press(root.root, 4); // "-": 20 -> 19
    // Nothing is saved before the confirm.
    EXPECT_EQ(ReadWholeFile(setup).find("MAXbank: 19\n"), std::string::npos);
    Press(root.root, 6); // ENTER: confirm and save
    EXPECT_TRUE(
        WaitUntil([&] { return ReadWholeFile(setup).find("\nMAXbank: 19\n") != std::string::npos; },
                  kPatienceMs))
        << ReadWholeFile(setup) << p.Err();

    EXPECT_GE(p.Stop(SIGTERM), 0);
    SimBoardStop(&board);
}

} // namespace
