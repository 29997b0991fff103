// Remote link in process: a standard client (any header order, masked and
// control frames, the AccessPhrase option), connections that trickle, the
// silent session taken over, keepalive and pings, RemoteAllow, the client's
// silence time-out, the divide range, coalesced bank saves, and the remote
// station's view of its server.
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

int Count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

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
        // No subprotocol named that was not asked for.
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
    // The subprotocol is named when asked for; a plain GET asks for no upgrade.
    WsHandshake h, plain;
    for (const char *l : {"GET /chat HTTP/1.1\n", "UPGRADE: WebSocket\n", "Sec-WebSocket-Key: k\n",
                          "sec-websocket-protocol: x, chat\n"})
        WsHandshakeLine(&h, l, int(std::strlen(l)));
    char out[256];
    EXPECT_EQ(WsHandshakeLine(&h, "\n", 1), 1);
    WsUpgradeReply(&h, out, sizeof out);
    EXPECT_NE(std::strstr(out, "Sec-WebSocket-Protocol: chat\r\n\r\n"), nullptr);
    WsHandshakeLine(&plain, "GET / HTTP/1.1\n", 15);
    EXPECT_EQ(WsHandshakeLine(&plain, "\n", 1), 2);
}

TEST(RemoteServer, TricklersDoNotKeepAPeerOutAndASilentSessionIsTakenOver) {
    Server s;
    std::vector<std::unique_ptr<WsPeer>> slow;
    for (int i = 0; i < 3; ++i) {
        slow.push_back(std::make_unique<WsPeer>(s.port));
        send(slow.back()->fd, "GET", 3, MSG_NOSIGNAL);
    }
    WsPeer a(s.port);
    EXPECT_NE(a.Open("tarabantulio").find("101"), std::string::npos);
    // The first to prove itself has the session; the slow ones are closed
    // then, within their time.
    for (auto &p : slow)
        EXPECT_TRUE(p->Closed(3000));
    ASSERT_TRUE(WaitUntil([&] { return s.u.works.wsConnected == 1; }, 3000));
    EXPECT_EQ(Count(s.Log(), "not complete in"), 0) << s.Log();
    const int opts[5][3] = {{SOL_SOCKET, SO_KEEPALIVE, 1},
                            {IPPROTO_TCP, TCP_KEEPIDLE, 10},
                            {IPPROTO_TCP, TCP_KEEPINTVL, 5},
                            {IPPROTO_TCP, TCP_KEEPCNT, 3},
                            {IPPROTO_TCP, TCP_USER_TIMEOUT, 20000}};
    for (auto [level, opt, want] : opts) {
        int v = 0;
        socklen_t len = sizeof v;
        getsockopt(s.u.works.wsSocket, level, opt, &v, &len);
        EXPECT_EQ(v, want) << opt;
    }
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
    EXPECT_TRUE(a.WaitFor(0x88, &code, 3000) && code == "\x03\xE9");
    EXPECT_TRUE(a.Closed(3000));
    EXPECT_TRUE(c.WaitFor(0x89, &code, 3000));
    EXPECT_EQ(Count(s.Log(), "taken over by 127.0.0.1"), 1);
    wsTakeoverIdleMs = 60000;
    wsPingMs = 10000;
}

TEST(RemoteServer, AllowListAndTheClientsSilence) {
    WsAllowList l = WsReadAllowList("192.168.1.0/24, 10.0.0.5 bad/40");
    EXPECT_EQ(l.count, 2);
    EXPECT_TRUE(WsAllowed(l, 0xC0A8014D) && WsAllowed(l, 0x0A000005));
    EXPECT_FALSE(WsAllowed(l, 0xC0A80201) || WsAllowed(l, 0x0A000006));
    EXPECT_FALSE(WsAllowed(WsReadAllowList("nothing"), 0x0A000005));
    {
        Server s("10.0.0.0/8");
        EXPECT_TRUE(WsPeer(s.port).Closed(3000));
        EXPECT_TRUE(WaitUntil([&] { return Count(s.Log(), "not in RemoteAllow") == 1; }, 3000));
    }
    // A server that answers and then says nothing: the client calls again.
    ScopedSimRoot root;
    int ls = socket(AF_INET, SOCK_STREAM, 0), port = FreeTcpPort();
    sockaddr_in sa{AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(bind(ls, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    listen(ls, 4);
    TestUnit cli;
    cli.works.running = 1;
    cli.works.tcpPort = int16_t(port);
    cli.setup.WebSocket = '2';
    wsClientSilenceMs = 500;
    RunningThread client(Wclient, cli.w());
    for (int i = 0; i < 2; ++i) {
        WsPeer c(accept(ls, nullptr, nullptr), true);
        std::string req;
        for (char ch; req.find("\r\n\r\n\r\n") == std::string::npos && recv(c.fd, &ch, 1, 0) == 1;)
            req += ch;
        size_t k = req.find("Key: ") + 5;
        char accept[29];
        WsAcceptValue(req.substr(k, 24).c_str(), accept);
        std::string ok =
            "HTTP/1.1 101 Switching Protocols\r\nSec-WebSocket-Accept: " + std::string(accept) +
            "\r\n\r\n";
        send(c.fd, ok.data(), ok.size(), MSG_NOSIGNAL);
        EXPECT_TRUE(c.Closed(5000)) << "a silent server is given up";
    }
    EXPECT_GE(Count(ReadWholeFile(root.Path("/var/log/helix.log")), "nothing heard"), 1);
    cli.works.running = 0;
    wsClientSilenceMs = 30000;
    close(ls);
}

TEST(RemoteCommands, DivideRangeCountdownAndCoalescedBankSaves) {
    ScopedSimRoot root;
    TestUnit u;
    auto run = [&](const char *cmd) {
        std::snprintf(u.works.remoteCmd, sizeof u.works.remoteCmd, "%s", cmd);
        return dispStat(u.w());
    };
    run("VORNFD99999999999999999999");
    EXPECT_EQ(u.works.fftDivide, 100);
    WriteWholeFile(root.Path("/opt/set/setup.txt"), "Divide: 2147483647\n");
    readSetup(u.w());
    EXPECT_EQ(u.works.fftDivide, 0) << "out of range: the default";
    u.works.fftDivide = 1 << 30;
    char text[4096];
    size_t n = 0;
    FormatSetupFile(u.w(), text, sizeof text, &n);
    EXPECT_NE(std::string(text, n).find("Divide: 100\n"), std::string::npos);
    // Fifty bank steps: one save at once, the rest in one more.
    u.works.maxBank = 20;
    u.works.numBanco = 1;
    for (int i = 0; i < 50; ++i)
        run("VORNBANK");
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
    std::string t = "20m 1010T0001.20500.00025.5041.348.210.303\x03"
                    "0";
    RemoteStatus st;
    ASSERT_TRUE(ParseStatusText(t.data(), int(t.size()), &st));
    EXPECT_STREQ(st.band, "20m");
    EXPECT_TRUE(st.ant == 1 && st.bank == 3 && st.err == 2 && st.fwd == 500.0f);
    EXPECT_FALSE(ParseStatusText(("VORNBANK" + t.substr(8)).data(), 44, &st));
    EXPECT_NEAR(ReflectedFromSwr(100.0f, 3.0f), 25.0f, 1e-4);
    u.setup.WebSocket = '2';
    u.works.wsConnected = 1;
    EXPECT_FALSE(RemoteStatusShown(u.w(), &st) || RemoteStatusLost(u.w())) << "none yet";
    RemoteStatusStore(u.w(), st);
    EXPECT_TRUE(RemoteStatusShown(u.w(), &st));
    u.works.wsConnected = 0;
    EXPECT_TRUE(RemoteStatusLost(u.w()));
}
