// The whole controller with the simulated radios: the bank's marker chooses
// the link. FT-817 mode polls the radio; TAV mode without its port ends the
// program. The two runs go side by side (each waits ~12 s of splash).
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

TEST(ControllerLinks, Ft817ModePollsAndTavModeWithoutPortEnds) {
    ScopedSimRoot ft, tav;
    WriteWholeFile(ft.Path("/opt/set/setup.txt"), kQuietSetup);
    WriteWholeFile(ft.Path("/opt/set/antenna_b1.txt"), "!817\n");
    WriteWholeFile(tav.Path("/opt/set/setup.txt"), kQuietSetup);
    WriteWholeFile(tav.Path("/opt/set/antenna_b1.txt"), "!Tav\n");
    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Ft817;
    cfg.root = ft.root;
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);

    HelixProcess pf, pt;
    setenv("HELIX_ROOT", ft.root.c_str(), 1);
    ASSERT_TRUE(pf.Start(ft.Path("/err.txt")));
    setenv("HELIX_ROOT", tav.root.c_str(), 1);
    ASSERT_TRUE(pt.Start(tav.Path("/err.txt")));

    EXPECT_TRUE(pf.WaitFor("---------------- OK works->catSerFD=")) << pf.Err();
    EXPECT_TRUE(pt.WaitExit()) << "the TAV unit without its port kept running";
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

    std::string tlog = ReadWholeFile(tav.Path("/var/log/helix.log"));
    EXPECT_NE(tlog.find("<3>Unable to open device /dev/ttyUSB1"), std::string::npos) << tlog;
    EXPECT_TRUE(WIFEXITED(pt.status));
    SimRadioStop(radio);
}

} // namespace
