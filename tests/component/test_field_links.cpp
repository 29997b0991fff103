// The controller in the field: ports that hang up and come back, a second
// controller on the same unit, the command line.
#include "board.h"
#include "helix_process.h"
#include "platform/clock.h"
#include "radio.h"
#include "unit.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

const char *kBoardOnly =
    "EnableKeyb: 0\nEnableGPIO: 0\nEnableLinear: 1\nEnableTime: 0\nWebSocket: 0\n";
const char *kRadioOnly = "EnableKeyb: 0\nEnableGPIO: 0\nEnableLinear: 0\nWebSocket: 0\n";

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

// Field 7 of /proc/<pid>/stat, tty_nr: the controlling terminal (0: none).
long TtyNr(pid_t pid) {
    std::string s = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream in(s.substr(s.rfind(')') + 1));
    std::string f[5]; // state, ppid, pgrp, session, tty_nr
    for (std::string &x : f)
        in >> x;
    return std::atol(f[4].c_str());
}

bool WaitFrame(SimBoard *b, const std::string &text, int ms) {
    uint64_t end = NowMs() + ms;
    do {
        for (const SimFrame &f : SimBoardFrames(b))
            if (f.text == text) return true;
        SleepMs(20);
    } while (NowMs() < end);
    return false;
}

// The board's port hangs up under a controller run as a service: it lives
// on, counts a silent board, and once a new port sits at the same path gives
// the board its start-up set again. A second controller and a hang-up
// signal change nothing.
TEST(FieldLinks, BoardPortHangsUpAndComesBackOneControllerPerUnit) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), kBoardOnly);
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    ASSERT_TRUE(WaitFrame(&board, "MR0;", 8000)) << p.Err();
    // A session leader with no terminal, as a service runs: opening the
    // board's port (a terminal) must not make it the controlling one.
    EXPECT_EQ(TtyNr(p.pid), 0) << "the board's port became the controlling terminal";

    HelixProcess second;
    ASSERT_TRUE(second.Start(root.Path("/err2.txt")));
    ASSERT_TRUE(second.WaitExit(5000));
    EXPECT_EQ(WEXITSTATUS(second.status), 2);
    EXPECT_EQ(second.Err(), "helix is already running (pid " + std::to_string(p.pid) + ")\n");

    SimBoardStop(&board); // the master side closes: the port hangs up
    ASSERT_TRUE(p.WaitFor("Linear: port /dev/ttyAMA0 hung up, reopening it", 5000)) << p.Err();
    // Silent board pacing: three resends 1.5 s apart, then error 4.
    ASSERT_TRUE(p.WaitFor("Add: N: 1 err:4", 9000)) << p.Err();
    kill(p.pid, SIGHUP);
    SimBoard again;
    ASSERT_EQ(SimBoardStart(&again, root.root), 0);
    EXPECT_TRUE(WaitFrame(&again, "MR0;", 5000)) << p.Err();
    // The whole state the screen shows, not only the start-up set.
    EXPECT_TRUE(WaitFrame(&again, "AB0;", 3000) || WaitFrame(&again, "AB1;", 0)) << p.Err();
    EXPECT_TRUE(WaitFrame(&again, "AT00;", 3000)) << p.Err();
    std::string err = p.Err();
    ASSERT_NE(err.find("open again"), std::string::npos) << err;
    EXPECT_EQ(Count(err.substr(err.find("open again")), "RETRAY"), 0u)
        << "what was in flight goes again at once, no reply time-out after the return";
    EXPECT_EQ(Count(err, "hung up"), 1u);
    EXPECT_EQ(Count(err, "timeout -1"), 0u);
    EXPECT_LE(Count(err, "ERROR LINEAR: RETRAY"), 6u) << "resends are paced by the time-out";
    EXPECT_GE(p.Stop(SIGTERM, 6000), 0) << "the hang-up signal ended the controller";
    SimBoardStop(&again);
}

// The radio's port goes away and comes back (the radio power-cycled): the
// FT-817 link reopens it and polls again; a TAV unit started without its
// radio waits for it instead of ending.
TEST(FieldLinks, RadioPortsComeBackInFt817AndTavModes) {
    ScopedSimRoot ft, tav;
    WriteWholeFile(ft.Path("/opt/set/setup.txt"), kRadioOnly);
    WriteWholeFile(ft.Path("/opt/set/antenna_b1.txt"), "!817\n");
    WriteWholeFile(tav.Path("/opt/set/setup.txt"), kRadioOnly);
    WriteWholeFile(tav.Path("/opt/set/antenna_b1.txt"), "!Tav\n");
    SimRadioConfig fc;
    fc.kind = SimRadioKind::Ft817;
    fc.root = ft.root;
    SimRadio *radio = SimRadioStart(fc);
    ASSERT_NE(radio, nullptr);
    HelixProcess pf, pt;
    setenv("HELIX_ROOT", ft.root.c_str(), 1);
    ASSERT_TRUE(pf.Start(ft.Path("/err.txt")));
    setenv("HELIX_ROOT", tav.root.c_str(), 1);
    ASSERT_TRUE(pt.Start(tav.Path("/err.txt")));
    ASSERT_TRUE(pf.WaitFor("OK works->catSerFD=", 20000)) << pf.Err();

    SimRadioStop(radio);
    EXPECT_TRUE(pf.WaitFor("CAT: port /dev/ttyUSB1 hung up, reopening it", 5000)) << pf.Err();
    fc.freq = 7074000;
    radio = SimRadioStart(fc);
    ASSERT_NE(radio, nullptr);
    EXPECT_TRUE(pf.WaitFor("CAT: port /dev/ttyUSB1 open again", 4000)) << pf.Err();
    uint64_t end = NowMs() + 3000;
    while (NowMs() < end && SimRadioCommands(radio).empty())
        SleepMs(20);
    EXPECT_FALSE(SimRadioCommands(radio).empty()) << "no poll after the port came back";

    // The TAV unit runs on without its port, and opens it once it appears.
    EXPECT_FALSE(pt.WaitExit(100)) << pt.Err();
    SimRadioConfig tc;
    tc.root = tav.root;
    SimRadio *tr = SimRadioStart(tc);
    ASSERT_NE(tr, nullptr);
    EXPECT_TRUE(pt.WaitFor("Serial: port /dev/ttyUSB1 open again", 4000)) << pt.Err();
    EXPECT_GE(pf.Stop(SIGTERM, 6000), 0);
    EXPECT_GE(pt.Stop(SIGTERM, 6000), 0);
    SimRadioStop(radio);
    SimRadioStop(tr);
}

// An FT-817 port missing at start, then one stray byte and a run of random
// garbage on its line: the link comes up when the port appears, the board
// never gets a frequency the radio did not have (0 before it is heard), and
// bad replies raise 25.
TEST(FieldLinks, Ft817PortLateThenLineNoise) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   SwitchesOff("EnableLinear: 1\nEnableTime: 1\n"));
    std::string bank = ReadWholeFile(root.Path("/opt/set/antenna_b1.txt"));
    WriteWholeFile(root.Path("/opt/set/antenna_b1.txt"), "!817" + bank.substr(bank.find('\n')));
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    ASSERT_TRUE(p.WaitFor("Unable to open device /dev/ttyUSB1", kPatienceMs)) << p.Err();
    SimRadio *radio = SimRadioStart(SimRadioConfig{SimRadioKind::Ft817, root.root});
    ASSERT_TRUE(WaitFrame(&board, "FA00014074000;", kPatienceMs)) << p.Err();
    SimRadioSendRaw(radio, {0x00});
    SleepMs(1000);
    SimRadioSetFreq(radio, 7074000);
    EXPECT_TRUE(WaitFrame(&board, "FA00007074000;", kPatienceMs)) << p.Err();
    SimRadioSetSilent(radio, true); // it answers only with garbage, no digit pair in it
    std::mt19937 noise(35);
    std::vector<uint8_t> junk(7);
    const size_t mark = p.Err().size();
    auto warned = [&] { return p.Err().find("err:25\n", mark) != std::string::npos; };
    for (uint64_t end = NowMs() + kPatienceMs; NowMs() < end && !warned(); SleepMs(100)) {
        for (uint8_t &b : junk)
            b = static_cast<uint8_t>(noise() | 0x0A);
        SimRadioSendRaw(radio, junk);
    }
    EXPECT_TRUE(warned()) << "a run of bad replies raised no warning";
    for (const SimFrame &f : SimBoardFrames(&board))
        EXPECT_TRUE(f.text.rfind("FA", 0) != 0 || f.text == "FA00007074000;" ||
                    f.text == "FA00014074000;" || f.text == "FA00000000000;")
            << f.text;
    EXPECT_GE(p.Stop(SIGTERM, 6000), 0);
    SimRadioStop(radio);
    SimBoardStop(&board);
}

TEST(FieldLinks, CommandLine) {
    std::string exe = std::string(HELIX_BUILD_DIR) + "/helix";
    auto run = [&](const std::string &args, std::string *out) {
        FILE *f = popen((exe + " " + args + " 2>&1").c_str(), "r");
        char buf[512];
        out->clear();
        while (fgets(buf, sizeof buf, f) != nullptr)
            *out += buf;
        return WEXITSTATUS(pclose(f));
    };
    std::string out;
    EXPECT_EQ(run("--version", &out), 0);
    EXPECT_EQ(out, "helix " + ReadWholeFile(std::string(HELIX_SOURCE_DIR) + "/VERSION"));
    EXPECT_EQ(run("--help", &out), 0);
    EXPECT_EQ(out.rfind("usage: helix", 0), 0u);
    EXPECT_EQ(run("--frobnicate", &out), 2);
    EXPECT_NE(out.find("usage: helix"), std::string::npos);
    EXPECT_EQ(run("--backup", &out), 2);
    EXPECT_EQ(out.rfind("helix: --backup needs a file", 0), 0u) << out;
}

} // namespace
