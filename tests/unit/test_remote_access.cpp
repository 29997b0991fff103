// Remote link in process: a standard client (masked and control frames, no
// subprotocol unasked, the AccessPhrase option), a busy session kept and a silent one
// taken over, keepalive, pings, RemoteAllow, the client's silence time-out, the
// divide range, coalesced bank saves, and the remote station's view.
#include "model/remote_link.h"
#include "platform/files.h"
#include "remote/access.h"
#include "remote/commands.h"
#include "remote/wsocket.h"
#include "transceiver/tav_read.h"
#include "unit.h"
#include "ws_peer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// The server thread on a free port.
struct Server {
    ScopedSimRoot root;
    TestUnit u;
    int port = FreeTcpPort();
    std::unique_ptr<RunningThread> t;
    explicit Server(const char *allow = "") {
        wsServerStartWaitMs = 0;
        u.works.running = 1;
        u.works.tcpPort = int16_t(port);
        u.setup.WebSocket = '1';
        std::snprintf(u.works.options.remoteAllow, kOptionText, "%s", allow);
        t = std::make_unique<RunningThread>(Wsocket, u.w());
    }
    ~Server() { u.works.running = 0; }
    std::string Log() { return ReadWholeFile(root.Path("/var/log/helix.log")); }
};

} // namespace

TEST(RemoteWire, StandardClientMaskedAndControlFramesAndThePhraseOption) {
    ScopedSimRoot root;
    TestUnit u;
    u.works.running = 1;
    u.setup.WebSocket = '1';
    u.setup.EnableSpectrum = '1';
    std::snprintf(u.works.options.accessPhrase, kOptionText, "open sesame");
    for (std::string phrase : {"tarabantulio", "open sesame"}) {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        std::atomic<int> result{1};
        std::thread t([&] { result = WsServeConnection(u.w(), sv[0]); });
        WsPeer peer(sv[1], true);
        EXPECT_NE(peer.Open(phrase).find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n"),
                  std::string::npos);
        std::string pong, close;
        if (phrase == "open sesame") {
            peer.Send(0x82, "STVORNFT00");
            peer.Send(0x89, "hi");
            EXPECT_TRUE(peer.WaitFor(0x8A, &pong, 3000) && pong == "hi");
            EXPECT_EQ(u.setup.EnableSpectrum, '0') << "a masked binary frame is acted on";
            peer.Send(0x88, "\x03\xE8");
            EXPECT_TRUE(peer.WaitFor(0x88, &close, 3000) && close == "\x03\xE8");
        }
        t.join();
        EXPECT_EQ(result, phrase == "open sesame" ? kWsPeerClose : kWsWrongPhrase);
    }
}

TEST(RemoteServer, ABusySessionIsKeptASilentOneIsTakenOver) {
    Server s;
    WsPeer a(s.port);
    a.Open("tarabantulio");
    ASSERT_TRUE(WaitUntil([&] { return s.u.works.wsConnected == 1; }, 3000));
    int v[2] = {0, 0};
    socklen_t len = sizeof v[0];
    getsockopt(s.u.works.wsSocket, IPPROTO_TCP, TCP_KEEPIDLE, &v[0], &len);
    getsockopt(s.u.works.wsSocket, IPPROTO_TCP, TCP_USER_TIMEOUT, &v[1], &len);
    EXPECT_TRUE(v[0] == 10 && v[1] == 20000) << "keepalive 10 s, user time-out 20 s";
    // Another proved peer while the session is busy is told to try later;
    // once it has been silent long enough, the next one takes over (and is pinged).
    std::string code;
    a.Send(0x82, "STVORNTU2");
    WsPeer b(s.port);
    b.Open("tarabantulio");
    EXPECT_TRUE(b.WaitFor(0x88, &code, 3000) && code == "\x03\xF5");
    wsTakeoverIdleMs = 300;
    wsPingMs = 200;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    WsPeer c(s.port);
    c.Open("tarabantulio");
    EXPECT_TRUE(a.WaitFor(0x88, &code, 3000) && code == "\x03\xE9" && a.Closed(3000));
    EXPECT_TRUE(c.WaitFor(0x89, &code, 3000));
    EXPECT_EQ(Count(s.Log(), "taken over by 127.0.0.1"), 1);
    wsTakeoverIdleMs = 60000;
    wsPingMs = 10000;
}

TEST(RemoteServer, AllowListAndTheClientsSilence) {
    WsAllowList l = WsReadAllowList("192.168.1.0/24, 10.0.0.5 bad/40"), none = WsReadAllowList("x");
    EXPECT_TRUE(l.count == 2 && WsAllowed(l, 0xC0A8014D) && WsAllowed(l, 0x0A000005));
    EXPECT_FALSE(WsAllowed(l, 0xC0A80201) || WsAllowed(l, 0x0A000006) || WsAllowed(none, 1));
    {
        Server s("10.0.0.0/8");
        EXPECT_TRUE(WsPeer(s.port).Closed(3000));
        EXPECT_TRUE(WaitUntil([&] { return Count(s.Log(), "not in RemoteAllow") == 1; }, 3000));
    }
    wsProveMs = 300; // a connection that never proves itself is closed at the limit
    {
        Server s;
        WsPeer slow(s.port);
        send(slow.fd, "G", 1, MSG_NOSIGNAL);
        EXPECT_TRUE(slow.Closed(5000));
    }
    wsProveMs = 3000;
    // A server that says nothing (no supervisor here): the client calls again.
    Server s;
    TestUnit cli;
    cli.works.running = 1;
    cli.works.tcpPort = int16_t(s.port);
    cli.setup.WebSocket = '2';
    wsClientSilenceMs = 500;
    RunningThread client(Wclient, cli.w());
    EXPECT_TRUE(WaitUntil([&] { return Count(s.Log(), "Receiving data") == 2; }, 10000));
    EXPECT_GE(Count(s.Log(), "nothing heard from the server"), 1);
    cli.works.running = 0;
    wsClientSilenceMs = 30000;
}

TEST(RemoteCommands, DivideRangeCountdownAndCoalescedBankSaves) {
    ScopedSimRoot root;
    TestUnit u;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), "Divide: 2147483647\n");
    readSetup(u.w());
    EXPECT_EQ(u.works.fftDivide, 0) << "out of range: the default";
    // Fifty bank steps: one save at once, the rest in one more.
    u.works.maxBank = 20;
    u.works.numBanco = 1;
    for (int i = 0; i < 50; ++i) {
        std::strcpy(u.works.remoteCmd, "VORNBANK");
        dispStat(u.w());
    }
    RemoteCommandsTick(u.w(), true);
    EXPECT_EQ(Count(ReadWholeFile(root.Path("/commands.log")), "remount -r"), 2);
    EXPECT_NE(ReadWholeFile(root.Path("/opt/set/setup.txt")).find("NumBanco: 11"),
              std::string::npos);
    // The reader's countdown starts over when the divide changes.
    WriteWholeFile(root.Path("/lsusb.txt"), "Bus 001 Device 005: ID 1721:061a r\n");
    MakeParentDirs(root.Path("/sim/x"));
    WriteWholeFile(root.Path("/sim/tav-usb.conf"), "rate 0\n");
    u.setup.EnableFFT = u.setup.EnableSpectrum = '1';
    u.works.wsConnected = 1;
    u.works.wsSocket = -1;
    auto r = std::make_unique<TavReader>();
    ASSERT_EQ(TavReaderStart(r.get(), u.w()), 0);
    u.works.fftDivide = 100;
    for (int i = 0; i < 3; ++i)
        TavReaderPass(r.get());
    long runs = r->fft.runs;
    u.works.fftDivide = 2;
    TavReaderPass(r.get());
    EXPECT_EQ(r->fft.runs, runs + 1);
    ExitTavread(r.get());
}

TEST(RemoteStation, ShowsTheServersStatusWhileFreshAndSaysWhenLost) {
    TestUnit u;
    std::string t = std::string("20m 1010T0001.20500.00025.5041.348.210.303\x03") + "0";
    RemoteStatus st;
    ASSERT_TRUE(ParseStatusText(t.data(), int(t.size()), &st));
    EXPECT_TRUE(std::string(st.band) == "20m" && st.ant == 1 && st.bank == 3 && st.err == 2 &&
                st.fwd == 500.0f && ReflectedFromSwr(100.0f, 3.0f) == 25.0f);
    EXPECT_FALSE(ParseStatusText(("VORNBANK" + t.substr(8)).data(), 44, &st));
    u.setup.WebSocket = '2';
    u.works.wsConnected = 1;
    EXPECT_FALSE(RemoteStatusShown(u.w(), &st) || RemoteStatusLost(u.w())) << "none yet";
    RemoteStatusStore(u.w(), st);
    EXPECT_TRUE(RemoteStatusShown(u.w(), &st));
    u.works.wsConnected = 0;
    EXPECT_TRUE(RemoteStatusLost(u.w()));
}
