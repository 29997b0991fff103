// The logger working mode against a Python sender of <RadioInfo> datagrams
// on 127.0.0.1: the whole controller on a simulated board, and the link's
// silence warning with the time driven by hand.
#include "helix_process.h"
#include "model/errors.h"
#include "screenshot.h"
#include "supervisor/timer.h"
#include "transceiver/logger.h"

#include <gtest/gtest.h>

namespace {

// Runs the sender with `items` (see tests/support/radioinfo_send.py).
void Send(int port, const std::string &items) {
    std::string cmd = "/usr/bin/python3 " HELIX_SOURCE_DIR "/tests/support/radioinfo_send.py " +
                      std::to_string(port) + " " + items;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

TEST(LoggerEndToEnd, FollowsTheActiveRadioWaitsForReceiveAndIgnoresBadDatagrams) {
    ScopedSimRoot root;
    const int port = FreeTcpPort();
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   "EnableKeyb: 0\nEnableGPIO: 0\nEnableLinear: 1\nEnableTime: 1\nWebSocket: 0\n");
    WriteWholeFile(root.Path("/opt/set/options.txt"),
                   "LoggerUdpBind: 127.0.0.1\nLoggerUdpPort: " + std::to_string(port) + "\n");
    std::string bank = ReadWholeFile(root.Path("/opt/set/antenna_b1.txt"));
    WriteWholeFile(root.Path("/opt/set/antenna_b1.txt"),
                   "!Udp\n" + bank.substr(bank.find('\n') + 1));
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    auto wire = [&board] {
        std::string all;
        for (const SimFrame &f : SimBoardFrames(&board))
            all += f.text;
        return all;
    };
    auto log = [&root] { return ReadWholeFile(root.Path("/var/log/helix.log")); };

    // Two radios, radio 1 active: its TXFreq goes to the board (sent again
    // until the unit listens).
    EXPECT_TRUE(WaitUntil(
        [&] {
            Send(port, "1:14074000:1:0 2:7074000:1:0");
            return wire().find("FA00014074000;") != std::string::npos;
        },
        kPatienceMs))
        << p.Err();
    // The transmit focus to radio 2: its band, then the 40 m row's antenna.
    Send(port, "1:14074000:2:0 2:7074000:2:0");
    ASSERT_TRUE(WaitUntil(
        [&] { return wire().find("SA2;", wire().find("FA00007074000;")) != std::string::npos; },
        kPatienceMs));

    // A band change while radio 2 transmits (power on the board) waits for receive.
    SimBoardSet(&board, [](SimBoardState &st) { st.driveW = 5.0f; });
    Send(port, "2:7074000:2:1");
    Send(port, "2:21074000:2:1");
    ASSERT_TRUE(WaitUntil([&] { return log().find("waits for receive") != std::string::npos; },
                          kPatienceMs));
    EXPECT_EQ(wire().find("FA00021074000;"), std::string::npos);
    Send(port, "2:21074000:2:0");
    EXPECT_TRUE(
        WaitUntil([&] { return wire().find("FA00021074000;") != std::string::npos; }, kPatienceMs));
    SimBoardSet(&board, [](SimBoardState &st) { st.driveW = 0.0f; });

    // Malformed, oversize, with a DTD, out of range: nothing moves; a valid
    // datagram sent after them does. One log line for them all.
    Send(port, "'<RadioInfo><RadioNr>2</RadioNr><TXFreq>1810000</TXFreq>' "
               "'<!DOCTYPE r [<!ENTITY f \"1810000\">]><RadioInfo><RadioNr>2</RadioNr>"
               "<TXFreq>&f;</TXFreq></RadioInfo>' big:2:24915000:2:0 2:70000000:2:0 "
               "'<RadioInfo><RadioNr>2</RadioNr><TXFreq>1810000</TXFreq><TXFreq>1810000</TXFreq></"
               "RadioInfo>'");
    Send(port, "2:10136000:2:0");
    EXPECT_TRUE(
        WaitUntil([&] { return wire().find("FA00010136000;") != std::string::npos; }, kPatienceMs));
    for (const char *fa : {"FA00018100000;", "FA00024915000;", "FA00070000000;"})
        EXPECT_EQ(wire().find(fa), std::string::npos) << fa;
    EXPECT_EQ(Count(log(), "datagram ignored"), 1u) << log();
    EXPECT_GE(p.Stop(SIGTERM, 8000), 0);
    SimBoardStop(&board);
}

TEST(LoggerLink, SilenceRaisesTheWarningAndKeepsTheFrequency) {
    TestUnit u;
    Works *w = u.w();
    const int port = FreeTcpPort();
    std::snprintf(w->options.loggerUdpBind, kOptionText, "127.0.0.1");
    w->options.loggerUdpPort = port;
    w->errSuspend = 0;
    LoggerState st;
    LoggerStep(w, &st, 1000);
    ASSERT_GE(st.fd, 0);
    Send(port, "1:7074000:1:1");
    EXPECT_TRUE(WaitUntil([&] { return LoggerStep(w, &st, 2000), w->logFreq.load() == 7074000; },
                          kPatienceMs));
    EXPECT_EQ(w->logTx.load(), 1);
    LoggerStep(w, &st, 2000 + kLoggerSilenceMs - 1);
    EXPECT_EQ(ExistError(w, kErrLogger), 0);
    LoggerStep(w, &st, 2000 + kLoggerSilenceMs);
    EXPECT_EQ(ExistError(w, kErrLogger), 1);
    EXPECT_EQ(w->logFreq.load(), 7074000);
    EXPECT_EQ(w->logTxAny.load(), 2); // what it said no longer holds: the board decides
    Send(port, "1:7080000:1:0");
    EXPECT_TRUE(WaitUntil([&] { return LoggerStep(w, &st, 20000), w->logFreq.load() == 7080000; },
                          kPatienceMs));
    EXPECT_EQ(ExistError(w, kErrLogger), 0);
    LoggerClose(w, &st);
}

TEST(LoggerLink, BandChangeUnderPowerWaitsUntilTwoSecondsWithoutPower) {
    ScreenUnit u;
    Works *w = &u.works;
    w->ModeWorkIdx = 4;
    w->memRows = 2;
    w->antTab[0] = AntennaRow{"40m", 7000000, 7300000, 1, 2, 0, 0, 0.0f};
    w->antTab[1] = AntennaRow{"20m", 14000000, 14350000, 1, 1, 0, 0, 0.0f};
    SupervisorState st;
    SupervisorStart(w, &st, 1000);
    w->logFreq = 7074000;
    SupervisorStep(w, &st, 1000);
    ASSERT_EQ(w->freq.load(), 7074000);
    w->logTxAny = 1; // a radio transmits, with power on the board
    w->pwrFwd = 50.0f;
    w->logFreq = 7100000; // within the band: at once
    SupervisorStep(w, &st, 1100);
    EXPECT_EQ(w->freq.load(), 7100000);
    w->logFreq = 14074000;
    SupervisorStep(w, &st, 1200);
    SupervisorStep(w, &st, 60000);
    EXPECT_TRUE(w->freq.load() == 7100000 && w->logHold.load() == 1);
    w->pwrFwd = 0.0f; // the logger never says receive, the power goes
    SupervisorStep(w, &st, 70000);
    SupervisorStep(w, &st, 70000 + kLoggerNoPowerMs - 1);
    EXPECT_EQ(w->freq.load(), 7100000);
    SupervisorStep(w, &st, 70000 + kLoggerNoPowerMs);
    EXPECT_TRUE(w->freq.load() == 14074000 && w->logHold.load() == 0);
}

} // namespace
