// Two real controllers as a remote pair, each in its own simulated root: the
// server has the simulated board and TAV radio, the client connects to it,
// follows the server's status and radio, and comes back after the server
// restarts.
#include "board.h"
#include "helix_process.h"
#include "panel_keys.h"
#include "panel_process.h"
#include "platform/clock.h"
#include "radio.h"
#include "screenshot.h"
#include "unit.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *kBands = "1800000 2000000 100 1000 10 500 5 250 0 20 10 100 600\n"
                     "7000000 7300000 100 1000 10 500 5 250 0 20 10 100 600\n"
                     "14000000 14350000 100 1000 10 500 5 250 0 20 12 100 600\n";
const char *kAntennas = "!Tav\n40m 7000000 7300000 1 1 0 0 100.0\n"
                        "20m 14000000 14350000 1 1 0 0 100.0\n";

void WriteUnit(const ScopedSimRoot &r, char ws, int port, bool linear, bool keys = false) {
    WriteWholeFile(r.Path("/opt/set/setup.txt"),
                   SwitchesOff(std::string("EnableTime: 1\nMaxBank: 5\nNumBanco: 1\nEnableGPIO: ") +
                               (keys ? "1" : "0") + "\nEnableLinear: " + (linear ? "1" : "0") +
                               "\nWebSocket: " + ws +
                               "\nServer: 127.0.0.1\nTcpPort: " + std::to_string(port) + "\n"));
    WriteWholeFile(r.Path("/opt/set/config.txt"), kBands);
    WriteWholeFile(r.Path("/opt/set/antenna_b1.txt"), kAntennas);
    WriteWholeFile(r.Path("/opt/set/antenna_b2.txt"), kAntennas);
    WriteWholeFile(r.Path("/opt/set/antenna_b3.txt"), kAntennas);
}

// Status texts the client received (dispStat traces each one).
size_t CountStatus(const HelixProcess &p, const std::string &text) {
    std::string err = p.Err();
    size_t n = 0;
    for (size_t at = err.find("BUFFER Wsocket : " + text); at != std::string::npos;
         at = err.find("BUFFER Wsocket : " + text, at + 1))
        n++;
    return n;
}

// The bank field of the last status text `text` the client received.
std::string LastStatusBank(const HelixProcess &p, const std::string &text) {
    std::string err = p.Err();
    size_t at = err.rfind("BUFFER Wsocket : " + text);
    if (at == std::string::npos || at + 17 + 42 > err.size()) return "";
    return err.substr(at + 17 + 40, 2);
}

// The "NumBanco" line of a unit's setup file.
std::string SetupBank(const ScopedSimRoot &r) {
    std::string s = ReadWholeFile(r.Path("/opt/set/setup.txt"));
    size_t at = s.find("NumBanco:");
    return at == std::string::npos ? "" : s.substr(at, s.find('\n', at) - at);
}

TEST(RemotePairEndToEnd, ClientFollowsTheServerAndReconnects) {
    uint64_t t0 = NowMs();
    auto mark = [&](const char *what) {
        std::printf("%6llu ms %s\n", (unsigned long long)(NowMs() - t0), what);
    };
    int port = FreeTcpPort();
    ScopedSimRoot server;
    WriteUnit(server, '1', port, true);
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, server.root), 0);
    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Tav;
    cfg.root = server.root;
    cfg.catPort = "";
    cfg.freq = 14074000;
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);
    HelixProcess srv;
    ASSERT_TRUE(srv.Start(server.Path("/err.txt")));

    ScopedSimRoot client; // HELIX_ROOT now names the client's root
    WriteUnit(client, '2', port, false, true);
    // The client's own TAV port: a line nobody speaks on (its radio is at the server).
    int pty = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(pty, 0);
    ASSERT_EQ(grantpt(pty), 0);
    ASSERT_EQ(unlockpt(pty), 0);
    ASSERT_EQ(symlink(ptsname(pty), client.Path("/dev/ttyUSB1").c_str()), 0);
    HelixProcess cli;
    ASSERT_TRUE(cli.Start(client.Path("/err.txt")));

    // The server's status text (band, mode 1, bank 01) reaches the client.
    ASSERT_TRUE(WaitUntil([&] { return CountStatus(cli, "20m 1") > 0; }, kPatienceMs))
        << "client:\n"
        << cli.Err().substr(0, 2000) << "\nserver:\n"
        << srv.Err().substr(0, 2000);
    EXPECT_NE(cli.Err().find("BUFFER Wsocket : 20m 1"), std::string::npos);
    std::string status = cli.Err().substr(cli.Err().find("BUFFER Wsocket : 20m 1"));
    EXPECT_EQ(status.substr(17 + 40, 2), "01") << status.substr(0, 80);

    mark("client has the status");
    // The radio moves at the server; the client hears of it.
    SimRadioSetFreq(radio, 7074000);
    EXPECT_TRUE(WaitUntil([&] { return CountStatus(cli, "40m 1") > 0; }, kPatienceMs));
    // The radio's parameters reach the client's own screen (it shows their band).
    EXPECT_TRUE(WaitUntil([&] { return ScreenShowsBand(client.root, 7074000, 1); }, kPatienceMs));

    mark("client has the new band");
    // MEM on the client's panel: the client asks the server for the next bank
    // and keeps its own.
    auto banks = [&] {
        std::string err = srv.Err();
        size_t n = 0;
        for (size_t at = err.find("BUFFER Wsocket : VORNBANK"); at != std::string::npos;
             at = err.find("BUFFER Wsocket : VORNBANK", at + 1))
            n++;
        return n;
    };
    // Key 1 first acknowledges an error list that holds anything (the client
    // traces it); a second press is then the bank key.
    auto acks = [&] {
        std::string err = cli.Err();
        size_t n = 0;
        for (size_t at = err.find("- ERRORI!!\n"); at != std::string::npos;
             at = err.find("- ERRORI!!\n", at + 1))
            n++;
        return n;
    };
    auto memKey = [&](auto press, size_t before) {
        for (int i = 0; i < 2 && banks() == before; i++) {
            size_t acked = acks();
            EXPECT_TRUE(press());
            WaitUntil([&] { return banks() > before || acks() > acked; }, kPatienceMs);
        }
        return banks() - before;
    };
    EXPECT_EQ(memKey([&] { return SimKeyHold(client.root, 1, 200) == 0; }, banks()), 1u)
        << cli.Err().substr(cli.Err().size() > 3000 ? cli.Err().size() - 3000 : 0);
    EXPECT_TRUE(WaitUntil([&] { return SetupBank(server) == "NumBanco: 2"; }, kPatienceMs))
        << SetupBank(server);
    EXPECT_TRUE(WaitUntil([&] { return LastStatusBank(cli, "40m 1") == "02"; }, kPatienceMs))
        << LastStatusBank(cli, "40m 1");
    // The same key from the client's page.
    {
        PanelProcess page;
        ASSERT_TRUE(page.Start(client.root));
        EXPECT_EQ(memKey([&] { return page.Press(1); }, banks()), 1u);
        EXPECT_TRUE(WaitUntil([&] { return SetupBank(server) == "NumBanco: 3"; }, kPatienceMs))
            << SetupBank(server);
        EXPECT_TRUE(WaitUntil([&] { return LastStatusBank(cli, "40m 1") == "03"; }, kPatienceMs))
            << LastStatusBank(cli, "40m 1");
        EXPECT_EQ(page.Stop(), 0);
    }
    EXPECT_EQ(SetupBank(client), "NumBanco: 1");
    mark("the server's bank follows the client's key");
    // The server stops; the client keeps running and comes back with it.
    EXPECT_GE(srv.Stop(SIGTERM), 0);
    auto log = [&] { return ReadWholeFile(client.Path("/var/log/helix.log")); };
    EXPECT_TRUE(
        WaitUntil([&] { return log().find("Connect Error") != std::string::npos; }, kPatienceMs));
    EXPECT_FALSE(cli.WaitExit(1)) << "losing the server must not stop the client";
    mark("client lost the server");
    size_t before = CountStatus(cli, "40m 1");
    {
        // Started from the server's root again.
        UseSimRoot(server.root);
        HelixProcess again;
        ASSERT_TRUE(again.Start(server.Path("/err2.txt")));
        UseSimRoot(client.root);
        EXPECT_TRUE(WaitUntil([&] { return CountStatus(cli, "40m 1") > before; }, kPatienceMs))
            << log().substr(0, 3000);
        mark("client back");
        EXPECT_GE(again.Stop(SIGTERM), 0);
    }
    EXPECT_GE(cli.Stop(SIGTERM), 0);
    mark("stopped");
    close(pty);
    SimRadioStop(radio);
    SimBoardStop(&board);
}

} // namespace
