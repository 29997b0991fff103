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

const char *kSetup = "EnableKeyb: 0\nEnableGPIO: 1\nEnableLinear: 1\nEnableTime: 1\n"
                     "WebSocket: 0\nEnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableFFT: 0\n"
                     "MAXbank: 20\n";

// A short press, then time for the release to pass the debounce.
void Press(const std::string &root, int key) {
    ASSERT_EQ(SimKeyHold(root, key, 100), 0);
    SleepMs(150);
}

TEST(ParamEditEndToEnd, SetEditConfirmSavesTheSetupFile) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), kSetup);
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    // The splash countdown ends, then the main menu takes the keys.
    ASSERT_TRUE(p.WaitFor("Time Loading ... 1..", 30000)) << p.Err();
    SleepMs(2000);
    std::string setup = root.Path("/opt/set/setup.txt");
    ASSERT_EQ(ReadWholeFile(setup).find("MAXbank: 19\n"), std::string::npos);

    Press(root.root, 5); // SET: the parameter list opens on MAX BANK
    Press(root.root, 6); // ENTER: edit
    Press(root.root, 4); // "-": 20 -> 19
    // Nothing is saved before the confirm.
    EXPECT_EQ(ReadWholeFile(setup).find("MAXbank: 19\n"), std::string::npos);
    Press(root.root, 6); // ENTER: confirm and save
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadWholeFile(setup).find("\nMAXbank: 19\n") != std::string::npos; }, 5000))
        << ReadWholeFile(setup) << p.Err();

    EXPECT_GE(p.Stop(SIGTERM, 6000), 0);
    SimBoardStop(&board);
}

} // namespace
