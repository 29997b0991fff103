// The whole controller as a process: first start, switches, shutdown; the
// GPIO thread alone on the simulated block; the link alone with the
// simulated board.
#include "board.h"
#include "helix_process.h"
#include "platform/clock.h"
#include "platform/gpio_block.h"
#include "ui/gpio.h"
#include "unit.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>
#include <gtest/gtest.h>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

TEST(Controller, FirstStartWritesTheDefaultSetupAndBanner) {
    ScopedSimRoot root;
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    ASSERT_TRUE(p.WaitFor("ModeWorkIdx")) << p.Err();
    std::string err = p.Err();
    EXPECT_EQ(err.rfind("START Main " + std::string(64, '-') + "\nHELIX version 0.053\n", 0), 0u)
        << err;
    std::string setup = ReadWholeFile(root.Path("/opt/set/setup.txt"));
    EXPECT_EQ(std::count(setup.begin(), setup.end(), '\n'), 64);
    EXPECT_EQ(setup.rfind("EnableKeyb: 1\nEnableSpi: 0\n", 0), 0u);
    EXPECT_NE(setup.find("\nAudioBuffers: 20\n"), std::string::npos);
    long ms = p.Stop(SIGTERM);
    EXPECT_GE(ms, 0) << "did not stop";
    ASSERT_TRUE(WIFEXITED(p.status));
    EXPECT_EQ(WEXITSTATUS(p.status), 0);
}

TEST(Controller, AllSwitchesOffIdlesAndStopsCleanly) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), SwitchesOff());
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    ASSERT_TRUE(p.WaitFor("Time Loading ...10..")) << p.Err();
    long ms = p.Stop(SIGTERM);
    EXPECT_GE(ms, 0) << "did not stop";
    ASSERT_TRUE(WIFEXITED(p.status));
    EXPECT_EQ(WEXITSTATUS(p.status), 0);
    std::string err = p.Err();
    size_t close = err.find("Close..\n");
    ASSERT_NE(close, std::string::npos);
    EXPECT_NE(err.find("Closed!\n", close), std::string::npos);
    std::string log = ReadWholeFile(root.Path("/var/log/helix.log"));
    EXPECT_NE(log.find("<6>Communicator operations end"), std::string::npos);
    EXPECT_EQ(log.find("Communicator joined"), std::string::npos) << "no thread was started";
}

// The WebSocket switch chooses server, client or neither; shutdown joins
// exactly what was started. The three runs go side by side (each ~13 s).
TEST(Controller, WebSocketSwitchAndJoins) {
    struct Run {
        char mode;
        ScopedSimRoot root;
        HelixProcess p;
    };
    Run runs[3] = {{'1', {}, {}}, {'2', {}, {}}, {'x', {}, {}}};
    for (Run &r : runs) {
        // Values for the server side: an unused port and no peer for the client.
        // The server run also has the GPIO thread on: the countdown's code for
        // the panel micro must not hold up the start-up.
        WriteWholeFile(r.root.Path("/opt/set/setup.txt"),
                       SwitchesOff() + "WebSocket: " + r.mode + "\nServer: 127.0.0.1\n" +
                           (r.mode == '1' ? "EnableGPIO: 1\n" : ""));
        setenv("HELIX_ROOT", r.root.root.c_str(), 1);
        ASSERT_TRUE(r.p.Start(r.root.Path("/err.txt")));
    }
    for (Run &r : runs) {
        // The socket thread starts after the splash (about 12 s).
        if (r.mode == '1') {
            EXPECT_TRUE(r.p.WaitFor(">>>>>>>>>> SOCKET SERVER start\n"));
        }
        if (r.mode == '2') {
            EXPECT_TRUE(r.p.WaitFor(">>>>>>>>>> SOCKET CLIENT start\n"));
        }
    }
    // Let the third pass its socket step too, then stop them all.
    EXPECT_TRUE(runs[2].p.WaitFor("Time Loading ... 1..")) << runs[2].p.Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (Run &r : runs) {
        std::string err = r.p.Err();
        if (r.mode != '1') {
            EXPECT_EQ(err.find("SOCKET SERVER"), std::string::npos);
        }
        if (r.mode != '2') {
            EXPECT_EQ(err.find("SOCKET CLIENT"), std::string::npos);
        }
        long ms = r.p.Stop(SIGTERM);
        EXPECT_GE(ms, 0) << r.mode;
        std::string log = ReadWholeFile(r.root.Path("/var/log/helix.log"));
        bool joined = log.find("<6>Communicator joined Wsocket end") != std::string::npos;
        EXPECT_EQ(joined, r.mode != 'x') << r.mode;
        bool gpio = log.find("<6>Communicator joined GPIO end") != std::string::npos;
        EXPECT_EQ(gpio, r.mode == '1') << r.mode;
        EXPECT_NE(err.find("Time Loading ... 1..\n"), std::string::npos) << r.mode;
        EXPECT_EQ(log.find("Communicator joined Linear end"), std::string::npos);
    }
}

// The real controller on a simulated root: the GPIO thread runs on the
// simulated block, reads the panel micro's version and ends with the run.
TEST(GpioProcess, ReadsPanelVersionAndStopsCleanly) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), SwitchesOff("EnableGPIO: 1\n"));
    WriteWholeFile(root.Path("/panel-micro.txt"), "version 0x27\n");
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    ASSERT_TRUE(p.WaitFor("CMD TINY c5\n")) << p.Err();
    EXPECT_NE(p.Err().find("t1 1 -1, t2 1 -1, t3 1 -1, t4 1 -1, t5 1 -1, t6 1 -1\n"),
              std::string::npos);
    std::string log = ReadWholeFile(root.Path("/var/log/helix.log"));
    EXPECT_NE(log.find("<6>GPIO operations start\n<6>GPIO loop start\n<6>panel micro version 27\n"),
              std::string::npos)
        << log;
    long ms = p.Stop(SIGTERM);
    EXPECT_GE(ms, 0);
    ASSERT_TRUE(WIFEXITED(p.status));
    EXPECT_EQ(WEXITSTATUS(p.status), 0);
    log = ReadWholeFile(root.Path("/var/log/helix.log"));
    EXPECT_NE(log.find("<6>GPIO operations end\n"), std::string::npos);
    EXPECT_NE(log.find("<6>Communicator joined GPIO end\n"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(root.Path("/panel-micro.log")).rfind("B0\nC5\n", 0), 0u);
    // The keys were never touched by the program.
    std::string mem = ReadWholeFile(root.Path("/dev/mem"));
    ASSERT_EQ(mem.size(), 4096u);
    uint32_t lev;
    std::memcpy(&lev, mem.data() + kGPLEV0, 4);
    EXPECT_EQ(lev & kKeyBits, kKeyBits);
}

TEST(GpioProcess, NoGpioBlockEndsTheProcessWithStatus8) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), SwitchesOff("EnableGPIO: 1\n"));
    unlink(root.Path("/dev/mem").c_str());
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    ASSERT_TRUE(p.WaitExit());
    ASSERT_TRUE(WIFEXITED(p.status));
    EXPECT_EQ(WEXITSTATUS(p.status), 8);
    EXPECT_NE(ReadWholeFile(root.Path("/var/log/helix.log")).find("<3>can't open /dev/mem\n"),
              std::string::npos);
}

// The start-up commands in order, one after each status poll.
const std::string kStartUp = "VSM; ER0000; ER0001; ER0002; MP0; TS4095409515003700; AN0; SA1; "
                             "FS00001; MT100000000; PS0001100000000000; GM00020100; GS; CPFFFF; "
                             "MR0;";
constexpr size_t kStartUpCount = 15;

// The whole controller on the simulated root, with only the link thread on.
TEST(LinearLink, ControllerProgramTalksToTheBoard) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   SwitchesOff("EnableLinear: 1\nEnableCatSerial: 0\n"));
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    const size_t n = 2 * kStartUpCount + 8;
    ASSERT_TRUE(WaitUntil([&] { return SimBoardFrames(&board).size() >= n; }, kPatienceMs))
        << p.Err();
    auto f = SimBoardFrames(&board);
    std::string commands;
    size_t polls = 0;
    for (size_t i = 0; i < kStartUpCount; i++) {
        polls += f[2 * i].text == "ST;";
        commands += (i ? " " : "") + f[2 * i + 1].text;
    }
    EXPECT_EQ(polls, kStartUpCount);
    EXPECT_EQ(commands, kStartUp);
    // The bank load applied the working mode (code 35) after the start-up set;
    // no fan table: the first status asked for full speed, queued after that.
    EXPECT_EQ(f[2 * kStartUpCount + 1].text.substr(0, 2), "GS");
    EXPECT_EQ(f[2 * kStartUpCount + 3].text, "FN1100;");
    EXPECT_EQ(f[2 * kStartUpCount + 5].text, "FM;");
    for (const auto &fr : f)
        EXPECT_TRUE(fr.crcOk && fr.known) << fr.text;
    EXPECT_GE(p.Stop(SIGTERM), 0);
    SimBoardStop(&board);
    EXPECT_NE(p.Err().find("OK works->linFD="), std::string::npos);
}

} // namespace
