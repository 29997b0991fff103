// The whole controller with the simulated radio: the bank's marker chooses
// the link, and FT-817 mode polls the radio.
#include "helix_process.h"
#include "radio.h"
#include "unit.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

namespace {

const char *kQuietSetup = "EnableKeyb: 0\nEnableGPIO: 0\nEnableLinear: 0\nWebSocket: 0\n";

TEST(ControllerLinks, Ft817ModePolls) {
    ScopedSimRoot ft;
    WriteWholeFile(ft.Path("/opt/set/setup.txt"), kQuietSetup);
    WriteWholeFile(ft.Path("/opt/set/antenna_b1.txt"), "!817\n");
    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Ft817;
    cfg.root = ft.root;
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);

    HelixProcess pf;
    ASSERT_TRUE(pf.Start(ft.Path("/err.txt")));

    EXPECT_TRUE(pf.WaitFor("---------------- OK works->catSerFD=")) << pf.Err();
    EXPECT_TRUE(pf.WaitFor("ModeWorkIdx 2 \n"));
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::vector<std::string> cmds = SimRadioCommands(radio);
            return std::count(cmds.begin(), cmds.end(), "op=03") >= 3;
        },
        kPatienceMs))
        << "the FT-817 was not polled";
    EXPECT_GE(pf.Stop(SIGTERM), 0);
    std::string log = ReadWholeFile(ft.Path("/var/log/helix.log"));
    EXPECT_NE(log.find("Communicator joined CatSerial end"), std::string::npos);
    EXPECT_EQ(log.find("Communicator joined Serial end"), std::string::npos);
    SimRadioStop(radio);
}

} // namespace
