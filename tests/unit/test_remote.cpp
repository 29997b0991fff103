// Remote link: handshake, access phrase, hostile frames, chunking, the remote
// commands, and a server and a client talking over loopback.
#include "remote/commands.h"
#include "ui/bank.h"
#include "remote/compress.h"
#include "remote/frames.h"
#include "remote/ws_proto.h"
#include "remote/wsocket.h"
#include "transceiver/serial.h"
#include "unit.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Bytes from `fd` until `want` arrived, the peer closed, or `ms` passed.
std::string ReadSome(int fd, size_t want, int ms) {
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < want && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buf[4096];
        ssize_t n = recv(fd, buf, std::min(sizeof buf, want - out.size()), 0);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    return out;
}

// True when the peer of `fd` closed within `ms` (everything before is drained).
bool PeerClosed(int fd, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) return true;
        if (n < 0 && errno != EAGAIN) return true;
    }
    return false;
}

// The server's reply to a handshake, up to its empty line.
std::string ReadReply(int fd) {
    std::string out;
    while (out.find("\r\n\r\n") == std::string::npos) {
        std::string more = ReadSome(fd, 1, kPatienceMs);
        if (more.empty()) break;
        out += more;
    }
    return out;
}

void Send(int fd, const std::string &bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

std::string Request(const std::string &key, const char *eol) {
    std::string e = eol;
    return "GET /chat HTTP/1.1" + e + "Host: 127.0.0.1:6666" + e + "Upgrade: websocket" + e +
           "Connection: keep-alive, Upgrade" + e + "Sec-WebSocket-Key: " + key + e +
           "Sec-WebSocket-Protocol: chat" + e + "Sec-WebSocket-Version: 13" + e + e;
}

std::string Short(const std::string &tag, const std::string &body) {
    std::string f = "\x82";
    f += char(body.size() + 2);
    return f + tag + body;
}

std::string Extended(const std::string &tag, const std::string &body) {
    size_t p = body.size() + 2;
    std::string f = "\x82\x7E";
    f += char(p >> 8);
    f += char(p & 0xFF);
    return f + tag + body;
}

std::string Phrase(const std::string &text, uint8_t k = 0) {
    std::string f = "\x81";
    f += char(text.size());
    for (int i = 0; i < 4; ++i)
        f += char(k + i);
    for (size_t i = 0; i < text.size(); ++i)
        f += char(text[i] ^ char(k + i % 4));
    return f;
}

std::string Chunk(const std::string &tag, uint32_t t, uint32_t o, const std::string &data) {
    std::string body(8, '\0');
    WsPut32(reinterpret_cast<uint8_t *>(&body[0]), t);
    WsPut32(reinterpret_cast<uint8_t *>(&body[4]), o);
    std::string d = data;
    d.resize(512, '\0');
    return Extended(tag, body + d);
}

// A server connection on one end of a socket pair, served on its own thread.
struct ServedPeer {
    TestUnit &unit;
    int fds[2];
    std::thread t;
    std::atomic<int> result{1};
    explicit ServedPeer(TestUnit &u) : unit(u) {
        unit.setup.WebSocket = '1';
        unit.works.running = 1;
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        t = std::thread([this] { result = WsServeConnection(unit.w(), fds[0]); });
    }
    int peer() const { return fds[1]; }
    // Handshake and (optionally) the phrase; returns the server's reply.
    std::string Open(bool phrase = true) {
        Send(fds[1], Request("dGhlIHNhbXBsZSBub25jZQ==", "\r\n"));
        std::string reply = ReadReply(fds[1]);
        if (phrase) Send(fds[1], Phrase(unit.works.accessPhrase, 0x5A));
        return reply;
    }
    ~ServedPeer() {
        unit.works.running = 0;
        t.join();
        close(fds[1]);
    }
};

int ConnectTo(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    for (int i = 0; i < kPatienceMs / 20; ++i) {
        if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    close(s);
    return -1;
}

float Level(TestUnit &u, int k) {
    float f;
    pthread_mutex_lock(&u.serMut); // the spectrum is written under it
    std::memcpy(&f, &u.spectrum1[k], sizeof f);
    pthread_mutex_unlock(&u.serMut);
    return f;
}

} // namespace

TEST(RemoteHandshake, AcceptValuesAndKeyLimits) {
    char out[29];
    ASSERT_EQ(WsAcceptValue("dGhlIHNhbXBsZSBub25jZQ==", out), 0);
    EXPECT_STREQ(out, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    // Its digest holds a zero byte: a string function on the digest cuts it.
    ASSERT_EQ(WsAcceptValue("AAAAAAAAAAAAAAAAAAAAPA==", out), 0);
    EXPECT_STREQ(out, "IwAkOrrYf49HlI0VTXTV5tqdrZM=");
    EXPECT_EQ(WsAcceptValue(std::string(65, 'k').c_str(), out), -1);
    EXPECT_EQ(WsAcceptValue(std::string(64, 'k').c_str(), out), 0);
}

TEST(RemoteHandshake, ServerAnswersCrLfAndLfRequestsRefusesLongKeys) {
    ScopedSimRoot root;
    for (const char *eol : {"\r\n", "\n"}) {
        TestUnit u;
        ServedPeer p(u);
        Send(p.peer(), Request("AAAAAAAAAAAAAAAAAAAAPA==", eol));
        std::string reply = ReadReply(p.peer());
        EXPECT_EQ(reply, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                         "Connection: Upgrade\r\n"
                         "Sec-WebSocket-Accept: IwAkOrrYf49HlI0VTXTV5tqdrZM=\r\n"
                         "Sec-WebSocket-Protocol: chat\r\n\r\n")
            << "line end " << (eol[0] == '\r' ? "CR LF" : "LF");
    }
    // The client's own request form: six headers and two empty lines.
    {
        TestUnit u;
        ServedPeer p(u);
        Send(p.peer(), "GET /chat HTTP/1.1\r\nHost: a:1\r\nUpgrade: websocket\r\n"
                       "Connection: keep-alive, Upgrade\r\nSec-WebSocket-Key: "
                       "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n\r\n");
        EXPECT_NE(ReadReply(p.peer()).find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="), std::string::npos);
    }
    for (size_t len : {size_t(65), size_t(1000)}) {
        TestUnit u;
        ServedPeer p(u);
        Send(p.peer(), Request(std::string(len, 'Q'), "\r\n"));
        EXPECT_TRUE(PeerClosed(p.peer(), kPatienceMs)) << "key of " << len;
        p.t.join();
        p.t = std::thread([] {});
        EXPECT_EQ(p.result, kWsRefused);
    }
}

TEST(RemotePhrase, NothingBeforeThePhraseAndAWrongPhraseCloses) {
    ScopedSimRoot root;
    remoteRebootWaitMs = 0;
    {
        TestUnit u;
        u.setup.EnableSpectrum = '1';
        int tav[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, tav), 0);
        u.works.serFD = tav[0];
        ServedPeer p(u);
        p.Open(false);
        Send(p.peer(), Short("SC", "TX;"));
        Send(p.peer(), Short("ST", "VORNRB"));
        Send(p.peer(), Short("ST", "VORNFT00"));
        Send(p.peer(), Short("ST", "VORNFD33"));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(u.works.wsConnected, 0);
        EXPECT_EQ(u.setup.EnableSpectrum, '1');
        EXPECT_NE(u.works.fftDivide, 33);
        EXPECT_EQ(ReadSome(tav[1], 3, 100), "") << "transceiver keyed before the phrase";
        // The phrase, masked with a non-zero key, opens the way.
        Send(p.peer(), Phrase(u.works.accessPhrase, 0x37));
        Send(p.peer(), Short("ST", "VORNFT00"));
        EXPECT_TRUE(WaitUntil([&] { return u.setup.EnableSpectrum == '0'; }, kPatienceMs));
        EXPECT_EQ(u.works.wsConnected, 1);
        Send(p.peer(), Short("SC", "RX;"));
        EXPECT_EQ(ReadSome(tav[1], 3, kPatienceMs), "RX;");
        close(tav[1]);
        u.works.serFD = -1;
        close(tav[0]);
        for (const auto &line : SimCommands(root.root))
            EXPECT_EQ(line.find("reboot"), std::string::npos) << line;
    }
    {
        TestUnit u;
        ServedPeer p(u);
        p.Open(false);
        Send(p.peer(), Phrase(std::string(u.works.accessPhrase) + "x"));
        EXPECT_TRUE(PeerClosed(p.peer(), kPatienceMs));
        p.t.join();
        p.t = std::thread([] {});
        EXPECT_EQ(p.result, kWsWrongPhrase);
        EXPECT_EQ(u.works.wsConnected, 0);
    }
}

TEST(RemoteFrames, HostileFramesCloseWithoutHarm) {
    ScopedSimRoot root;
    const std::string hostile[] = {
        std::string("\x82\x7E\xFF\xFF", 4) + std::string(65535, 'A'), // 65535 bytes: fits, unknown
        std::string("\x82\x7F\x00\x00\x00\x00\xFF\xFF", 8),           // 32-bit length form
        std::string("\x82\x00\x00\x00", 4),                           // no room for a tag
        std::string("\x82\x01\x41\x00", 4),
        std::string("\x83\x82\x01\x02\x03\x04"
                    "ab",
                    8), // masked, a kind not taken
        std::string("\x82\x7E\x00\x01X", 5),
    };
    for (size_t i = 0; i < std::size(hostile); ++i) {
        TestUnit u;
        ServedPeer p(u);
        p.Open();
        ASSERT_TRUE(WaitUntil([&] { return u.works.wsConnected == 1; }, kPatienceMs));
        send(p.peer(), hostile[i].data(), hostile[i].size(), MSG_NOSIGNAL);
        if (i == 0) { // a full 65535-byte frame is read whole; the link stays up
            Send(p.peer(), Short("ST", "VORNFD7"));
            EXPECT_TRUE(WaitUntil([&] { return u.works.fftDivide == 7; }, kPatienceMs));
            EXPECT_EQ(u.works.wsConnected, 1);
        } else {
            EXPECT_TRUE(PeerClosed(p.peer(), kPatienceMs)) << "frame " << i;
            EXPECT_EQ(u.works.wsConnected, 0);
            EXPECT_EQ(u.works.wsSocket, -1);
        }
    }
}

TEST(RemoteFrames, BadChunksAreDroppedAndTheNextObjectParses) {
    TestUnit u;
    auto s = std::make_unique<WsSession>();
    s->server = false;
    std::string bins(1706, '\0');
    for (size_t i = 0; i < bins.size(); ++i)
        bins[i] = char(192 + i % 50);
    auto feed = [&](const std::string &f) {
        return WsDispatch(u.w(), s.get(), reinterpret_cast<const uint8_t *>(f.data()),
                          int(f.size()));
    };
    // O >= T, T beyond the capacity, O not a multiple of 512, a short body.
    EXPECT_EQ(feed(Chunk("SP", 854, 1024, "zz")), kWsGoOn);
    EXPECT_EQ(feed(Chunk("SP", 1707, 0, "zz")), kWsGoOn);
    EXPECT_EQ(feed(Chunk("SP", 854, 100, "zz")), kWsGoOn);
    EXPECT_EQ(feed(Extended("SP", std::string(8, '\x01'))), kWsGoOn);
    EXPECT_EQ(Level(u, 0), 0.0f);
    // Two objects interleaved: the second start wins, the stray chunk is dropped.
    feed(Chunk("SP", 1706, 0, std::string(512, char(200))));
    feed(Chunk("SP", 854, 0, bins.substr(0, 512)));
    feed(Chunk("SP", 1706, 512, std::string(512, char(201))));
    EXPECT_EQ(Level(u, 0), 0.0f);
    // A whole valid object afterwards still parses.
    for (uint32_t o = 0; o < 854; o += 512)
        feed(Chunk("SP", 854, o, bins.substr(o, 512)));
    EXPECT_EQ(Level(u, 0), float(uint8_t(bins[85])) - 192.0f);
    EXPECT_EQ(Level(u, 768), float(uint8_t(bins[853])) - 192.0f);
}

TEST(RemoteFrames, ChunkBoundariesAndRawScreen) {
    TestUnit u;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    WsLinkUp(u.w(), fds[0]);
    for (int total : {854, 1706, 1024, 100}) {
        std::string data(size_t(total), '\0');
        for (int i = 0; i < total; ++i)
            data[size_t(i)] = char(i * 7 + total);
        ASSERT_EQ(
            sendWebSockSerSpectrFrame(u.w(), reinterpret_cast<const uint8_t *>(data.data()), total),
            0);
        int chunks = (total + 511) / 512;
        std::string wire = ReadSome(fds[1], size_t(chunks) * 526, kPatienceMs);
        ASSERT_EQ(wire.size(), size_t(chunks) * 526) << total;
        std::vector<uint8_t> out(kWsSpectrumCap + 1, 0xEE);
        WsAssembly a;
        int done = 0;
        for (int c = 0; c < chunks; ++c) {
            const uint8_t *f = reinterpret_cast<const uint8_t *>(wire.data()) + c * 526;
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(f), 6),
                      std::string("\x82\x7E\x02\x0ASP", 6));
            EXPECT_EQ(WsGet32(f + 6), uint32_t(total));
            EXPECT_EQ(WsGet32(f + 10), uint32_t(c * 512));
            done = WsAssembleChunk(&a, out.data(), kWsSpectrumCap, f + 6, 520);
            EXPECT_EQ(done, c == chunks - 1 ? total : 0) << total << " chunk " << c;
        }
        EXPECT_EQ(std::string(out.begin(), out.begin() + total), data);
        EXPECT_EQ(out[size_t(total)], 0xEE) << "copied past the last meaningful byte";
    }
    // A raw screen object (memSize bytes) is shown byte for byte.
    std::vector<uint8_t> screen(20 * 10 * 4, 0);
    ASSERT_EQ(fbSetup(&u.works.fb, 20, 10, 32, screen.data()), 0);
    std::string img(800, '\0');
    for (size_t i = 0; i < img.size(); ++i)
        img[i] = char(i * 13 + 5);
    ASSERT_EQ(WsSendChunked(u.w(), "FB", reinterpret_cast<const uint8_t *>(img.data()), 800), 0);
    std::string wire = ReadSome(fds[1], 2 * 526, kPatienceMs);
    auto s = std::make_unique<WsSession>();
    s->server = false;
    for (int c = 0; c < 2; ++c)
        WsDispatch(u.w(), s.get(), reinterpret_cast<const uint8_t *>(wire.data()) + c * 526, 526);
    EXPECT_EQ(std::memcmp(screen.data(), img.data(), img.size()), 0);
    // Nothing is written once the link is down.
    WsLinkClose(u.w(), fds[0]);
    EXPECT_EQ(sendWebSockStatusFrame(u.w(), "x", 1), -1);
    EXPECT_TRUE(PeerClosed(fds[1], kPatienceMs));
    close(fds[1]);
    fbRelease(&u.works.fb);
}

TEST(RemoteFrames, AStalledPeerTimesOutAndMarksTheLinkDown) {
    TestUnit u;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    int small = 4096;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    WsLinkUp(u.w(), fds[0]);
    std::vector<uint8_t> bins(1706, 1);
    auto start = std::chrono::steady_clock::now();
    int r = 0;
    for (int i = 0; i < 1000 && r == 0; ++i)
        r = sendWebSockSerSpectrFrame(u.w(), bins.data(), 1706);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_EQ(r, -1);
    EXPECT_EQ(u.works.wsConnected, 0);
    EXPECT_LT(ms, kWsSendTimeoutMs + int(kPromptMs));
    // The status sender never waits for a held lock.
    u.works.wsConnected = 1;
    pthread_mutex_lock(&u.sendMut);
    EXPECT_EQ(sendWebSockStatusFrame(u.w(), "status", 6), -1);
    pthread_mutex_unlock(&u.sendMut);
    WsLinkClose(u.w(), fds[0]);
    close(fds[1]);
}

TEST(RemoteCommands, TheCommandTable) {
    ScopedSimRoot root;
    TestUnit u;
    auto run = [&](const char *cmd) {
        std::snprintf(u.works.remoteCmd, sizeof u.works.remoteCmd, "%s", cmd);
        return dispStat(u.w());
    };
    u.works.maxBank = 3;
    u.works.numBanco = 1;
    u.works.bandRow = 4;
    EXPECT_EQ(run("VORNBANKxyz"), kCmdBank);
    EXPECT_EQ(u.works.numBanco, 2);
    EXPECT_EQ(u.works.bandRow, -1);
    EXPECT_NE(ReadWholeFile(root.Path("/opt/set/setup.txt")).find("NumBanco: 2"),
              std::string::npos);
    EXPECT_EQ(run("VORNPA1"), kCmdBank);
    EXPECT_EQ(u.works.numBanco, 0) << "wraps on reaching MAX BANK";
    u.works.numBanco = 7; // MAX BANK lowered below the bank in use
    EXPECT_EQ(run("VORNPA1"), kCmdBank);
    EXPECT_EQ(u.works.numBanco, 0);
    EXPECT_EQ(run("VORNPA2"), kCmdNone);
    EXPECT_EQ(u.works.numBanco, 0);
    EXPECT_EQ(run("VORNTU2"), kCmdTune2);
    EXPECT_EQ(run("vornft00"), kCmdNone);
    u.setup.EnableSpectrum = '1';
    EXPECT_EQ(run("VORNFT00"), kCmdSpectrOff);
    EXPECT_EQ(u.setup.EnableSpectrum, '0');
    u.works.fftDivide = 0;
    EXPECT_EQ(run("VORNFT01"), kCmdSpectr854);
    EXPECT_EQ(u.setup.EnableSpectrum, '1');
    EXPECT_EQ(u.setup.Enable1600, '0');
    EXPECT_EQ(u.works.fftDivide, 2);
    u.works.fftDivide = 5;
    EXPECT_EQ(run("VORNFT02"), kCmdSpectr1706);
    EXPECT_EQ(u.setup.Enable1600, '1');
    EXPECT_EQ(u.works.fftDivide, 5);
    EXPECT_EQ(run("VORNFD12"), kCmdDivide);
    EXPECT_EQ(u.works.fftDivide, 12);
    EXPECT_EQ(run("VORNFD"), kCmdDivide);
    EXPECT_EQ(u.works.fftDivide, 1) << "no digits give 0, cut to 1";
    // Reboot: the panel mailbox is not waited on for ever (no GPIO thread here).
    remoteRebootWaitMs = 0;
    u.works.running = 1;
    u.setup.EnableGPIO = '0';
    EXPECT_EQ(run("VORNRB"), kCmdReboot);
    RemoteCommandsTick(u.w()); // the reboot is carried out by the frame loop's tick
    auto cmds = SimCommands(root.root);
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back().rfind("reboot", 0), 0u);
}

// Two units in one process over loopback: status text and spectrum reach the
// client, its command reaches the server, and the client comes back after the
// server stops and starts again.
TEST(RemotePair, ServerAndClientOverLoopback) {
    ScopedSimRoot root;
    wsServerStartWaitMs = 0;
    int port = FreeTcpPort();
    TestUnit srv, cli;
    srv.works.running = cli.works.running = 1;
    srv.works.tcpPort = cli.works.tcpPort = int16_t(port);
    srv.setup.WebSocket = '1';
    cli.setup.WebSocket = '2';
    // The port is taken at first: the server tries it again until it is free.
    int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(uint16_t(port));
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
    ASSERT_EQ(listen(blocker, 1), 0);
    auto server = std::make_unique<RunningThread>(Wsocket, srv.w());
    RunningThread client(Wclient, cli.w());
    struct Stop {
        TestUnit &a, &b;
        ~Stop() { a.works.running = b.works.running = 0; }
    } stop{srv, cli};
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ReadWholeFile(root.Path("/var/log/helix.log")).find("Binding error 98") !=
                   std::string::npos;
        },
        kPatienceMs));
    close(blocker);
    bool up = WaitUntil([&] { return srv.works.wsConnected == 1; }, kPatienceMs);
    if (!up) std::fprintf(stderr, "%s", ReadWholeFile(root.Path("/var/log/helix.log")).c_str());
    ASSERT_TRUE(up);
    ASSERT_TRUE(WaitUntil([&] { return cli.works.wsConnected == 1; }, kPatienceMs));
    // Status text (a command here) from the server; the client acts on it.
    cli.works.fftDivide = 1;
    std::string status = "VORNFT02" + std::string(36, ' ');
    ASSERT_TRUE(WaitUntil(
        [&] {
            sendWebSockStatusFrame(srv.w(), status.data(), int(status.size()));
            return cli.setup.Enable1600 == '1' && cli.works.fftDivide == 2;
        },
        kPatienceMs));
    std::vector<uint8_t> bins(1706);
    for (size_t i = 0; i < bins.size(); ++i)
        bins[i] = uint8_t(200 + i % 40);
    EXPECT_EQ(sendWebSockSerSpectrFrame(srv.w(), bins.data(), 1706), 0);
    EXPECT_TRUE(
        WaitUntil([&] { return Level(cli, 853) == float(bins[938]) - 192.0f; }, kPatienceMs));
    EXPECT_EQ(Level(cli, 0), float(bins[85]) - 192.0f);
    // Transceiver parameters reach the client's record.
    std::vector<uint8_t> par(40, '0');
    EXPECT_EQ(sendWebSockSerParFrame(srv.w(), par.data(), int(par.size())), 0);
    EXPECT_TRUE(WaitUntil(
        [&] {
            TavParams copy{};
            getParameters(&copy, cli.w()); // under serMut, as every reader
            return copy.received == 1;
        },
        kPatienceMs));
    EXPECT_EQ(sendWebSockSerParFrame(srv.w(), par.data(), 124), -1) << "longer than a short frame";
    // A command from the client reaches the server.
    EXPECT_EQ(sendWebSockRemoteCmd(cli.w(), "VORNFD9"), 0);
    EXPECT_TRUE(WaitUntil([&] { return srv.works.fftDivide == 9; }, kPatienceMs));
    // The remote station's bank key steps the server's bank, not its own.
    srv.works.maxBank = cli.works.maxBank = 5;
    srv.works.numBanco = cli.works.numBanco = 1;
    BankKey(cli.w());
    EXPECT_TRUE(WaitUntil([&] { return srv.works.numBanco == 2; }, kPatienceMs));
    EXPECT_EQ(cli.works.numBanco, 1);
    // Server switched off: it ends within a few polls, the client loses the link.
    auto t0 = std::chrono::steady_clock::now();
    srv.setup.WebSocket = '0';
    ASSERT_TRUE(server->WaitDone(3000));
    auto stopMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_LT(stopMs, int(kPromptMs)) << "server took " << stopMs << " ms to stop";
    std::printf("server stopped %lld ms after its switch dropped\n", (long long)stopMs);
    EXPECT_TRUE(WaitUntil([&] { return cli.works.wsConnected == 0; }, kPatienceMs));
    // Back again: the client reconnects by itself.
    srv.setup.WebSocket = '1';
    server = std::make_unique<RunningThread>(Wsocket, srv.w());
    EXPECT_TRUE(WaitUntil([&] { return cli.works.wsConnected == 1; }, kPatienceMs));
    t0 = std::chrono::steady_clock::now();
    srv.works.running = cli.works.running = 0;
    EXPECT_TRUE(client.WaitDone(kPatienceMs));
    EXPECT_TRUE(server->WaitDone(3000));
    stopMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_LT(stopMs, int(kPromptMs)) << "threads took " << stopMs << " ms to stop";
    std::printf("server and client stopped %lld ms after running dropped\n", (long long)stopMs);
}

// The server serves the next peer after a hostile one; a client refused by a
// bad accept value backs off and keeps the unit running.
TEST(RemotePair, NextPeerAfterHostileAndClientBackOff) {
    ScopedSimRoot root;
    wsServerStartWaitMs = 0;
    int port = FreeTcpPort();
    TestUnit srv;
    srv.works.running = 1;
    srv.works.tcpPort = int16_t(port);
    srv.setup.WebSocket = '1';
    {
        RunningThread server(Wsocket, srv.w());
        int a = ConnectTo(port);
        ASSERT_GE(a, 0);
        Send(a, Request("dGhlIHNhbXBsZSBub25jZQ==", "\r\n"));
        ReadReply(a);
        Send(a, Phrase(srv.works.accessPhrase));
        Send(a, std::string("\x82\x7F\x00\x00\x10\x00", 6));
        EXPECT_TRUE(PeerClosed(a, kPatienceMs));
        close(a);
        int b = ConnectTo(port);
        ASSERT_GE(b, 0);
        Send(b, Request("dGhlIHNhbXBsZSBub25jZQ==", "\n"));
        EXPECT_NE(ReadReply(b).find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="), std::string::npos);
        close(b);
        srv.works.running = 0;
        EXPECT_TRUE(server.WaitDone(kPatienceMs));
    }
    // A fake server answering with a wrong accept value.
    EXPECT_EQ(WsNextBackoff(2000), 4000);
    EXPECT_EQ(WsNextBackoff(16000), 30000);
    EXPECT_EQ(WsNextBackoff(30000), 30000);
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    ASSERT_EQ(bind(ls, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    listen(ls, 4);
    TestUnit cli;
    cli.works.running = 1;
    cli.works.tcpPort = int16_t(port);
    cli.setup.WebSocket = '2';
    RunningThread client(Wclient, cli.w());
    std::vector<std::chrono::steady_clock::time_point> when;
    for (int i = 0; i < 2; ++i) {
        pollfd p{ls, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 8000), 1);
        int c = accept(ls, nullptr, nullptr);
        when.push_back(std::chrono::steady_clock::now());
        ReadSome(c, 200, 300);
        std::string bad = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Accept: "
                          "AAAAAAAAAAAAAAAAAAAAAAAAAAA=\r\nSec-WebSocket-Protocol: chat\r\n\r\n";
        send(c, bad.data(), bad.size(), MSG_NOSIGNAL);
        EXPECT_TRUE(PeerClosed(c, kPatienceMs));
        close(c);
    }
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(when[1] - when[0]).count();
    EXPECT_GE(gap, 1900);
    EXPECT_EQ(cli.works.running, 1) << "a refused handshake must not stop the unit";
    cli.works.running = 0;
    EXPECT_TRUE(client.WaitDone(kPatienceMs));
    close(ls);
}

// A standard client (Node's `ws`) completes the handshake with subprotocol
// "chat", proves itself with the phrase and receives "ST" and "SP" frames.
TEST(RemoteStandardClient, NodeWsReceivesStatusAndSpectrum) {
    std::string dir = std::string(HELIX_SOURCE_DIR) + "/tests";
    if (std::system("command -v node >/dev/null 2>&1") != 0 ||
        ReadWholeFile(dir + "/node_modules/ws/package.json").empty())
        GTEST_SKIP() << "node or the ws package missing (scripts/deps.sh installs them)";
    ScopedSimRoot root;
    wsServerStartWaitMs = 0;
    int port = FreeTcpPort();
    TestUnit srv;
    srv.works.running = 1;
    srv.works.tcpPort = int16_t(port);
    srv.setup.WebSocket = '1';
    RunningThread server(Wsocket, srv.w());
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        std::vector<uint8_t> bins(854, 200);
        std::string status(44, 'S');
        while (!stop) {
            if (srv.works.wsConnected == 1) {
                sendWebSockStatusFrame(srv.w(), status.data(), int(status.size()));
                sendWebSockSerSpectrFrame(srv.w(), bins.data(), int(bins.size()));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::string cmd = "node " + dir + "/support/ws_client.js " + std::to_string(port) + " " +
                      srv.works.accessPhrase + " 2>&1";
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr)
        out += buf;
    int status = pclose(p);
    stop = true;
    feeder.join();
    srv.works.running = 0;
    EXPECT_TRUE(server.WaitDone(kPatienceMs));
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("open, protocol chat"), std::string::npos) << out;
    EXPECT_NE(out.find("ST and SP received"), std::string::npos) << out;
}

// "SO": always the extended form with the packet length after the tag; raw
// PCM when the codec is off, an Opus packet within audioFrame x 4 bytes when on.
TEST(RemoteFrames, AudioFrameLayout) {
    TestUnit u;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    WsLinkUp(u.w(), fds[0]);
    u.works.audioFrame = 4;
    u.works.audioBitrate = 0;
    const int16_t pcm[8] = {1, -1, 2, -2, 300, -300, 0x1234, -0x1234};
    ASSERT_EQ(sendWebSockAudioFrame(u.w(), pcm), 0);
    std::string f = ReadSome(fds[1], 26, kPatienceMs);
    ASSERT_EQ(f.size(), 26u);
    EXPECT_EQ(f.substr(0, 10), std::string("\x82\x7E\x00\x16SO\x00\x00\x00\x10", 10));
    EXPECT_EQ(std::memcmp(f.data() + 10, pcm, 16), 0);
    // Opus: 20 ms at 48 kHz.
    u.works.audioFrame = 960;
    u.works.audioBitrate = 64000;
    CreateAudioCodec(u.w());
    ASSERT_NE(u.works.opusEnc, nullptr);
    std::vector<int16_t> tone(960 * 2);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = int16_t((i * 523) % 20000 - 10000);
    ASSERT_EQ(sendWebSockAudioFrame(u.w(), tone.data()), 0);
    std::string h = ReadSome(fds[1], 10, kPatienceMs);
    ASSERT_EQ(h.size(), 10u);
    uint32_t n = WsGet32(reinterpret_cast<const uint8_t *>(h.data()) + 6);
    EXPECT_GT(n, 0u);
    EXPECT_LE(n, 960u * 4);
    EXPECT_EQ((uint8_t(h[2]) << 8 | uint8_t(h[3])), int(n) + 6);
    EXPECT_EQ(ReadSome(fds[1], n, kPatienceMs).size(), size_t(n));
    // Too long to fit a receiver as raw audio: not sent.
    u.works.audioBitrate = 0;
    u.works.audioFrame = 99 * 240;
    std::vector<int16_t> big(99 * 240 * 2);
    EXPECT_EQ(sendWebSockAudioFrame(u.w(), big.data()), -1);
    DestroyAudioCodec(u.w());
    WsLinkClose(u.w(), fds[0]);
    close(fds[1]);
}
