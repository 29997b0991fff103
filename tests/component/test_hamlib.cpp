// Hamlib's own programs as the oracles: the whole controller follows a rig
// daemon (rigctld -m 1) moved with rigctl, and its amplifier server answers
// byte for byte as ampctld -m 1 does where the values can coincide; the
// simulated FT-817 behind rigctld -m 1020 gives the frequency and txReady.
#include "board.h"
#include "helix_process.h"
#include "model/cmd_queue.h"
#include "remote/ampctld.h"
#include "radio.h"
#include "screenshot.h"
#include "supervisor/timer.h"
#include "transceiver/rigctl.h"
#include "model/errors.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A Hamlib daemon for the length of a test.
struct Daemon {
    pid_t pid = fork();
    explicit Daemon(const std::string &cmd) {
        if (pid == 0 && execl("/bin/sh", "sh", "-c", ("exec " + cmd + " >/dev/null 2>&1").c_str(),
                              nullptr) != 0)
            _exit(127);
    }
    ~Daemon() { kill(pid, SIGTERM), waitpid(pid, nullptr, 0); }
};

// The bytes a server answers to `request` on a new connection: read up to
// the reply to a closing "+\dump_state" (not kept), or to the end of stream.
std::string Ask(int port, const std::string &request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    std::string req = request + "+\\dump_state\n", got;
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size()))
        return close(fd), "(no connection)";
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    for (ssize_t n; poll(&p, 1, 10000) == 1 && (n = read(fd, buf, sizeof buf)) > 0;) {
        got.append(buf, static_cast<size_t>(n));
        size_t end = got.rfind("dump_state:\n");
        if (end != std::string::npos && got.ends_with("RPRT 0\n")) {
            got.resize(end);
            break;
        }
    }
    close(fd);
    return got;
}

// The power board's wire: the command texts received, one after the other.
std::string Wire(SimBoard *board) {
    std::string wire;
    for (const SimFrame &f : SimBoardFrames(board))
        wire += f.text;
    return wire;
}

TEST(HamlibEndToEnd, RigctldMovesTheUnitAndItsAmpctldAnswersAsHamlibs) {
    ScopedSimRoot root;
    const int rig = FreeTcpPort(), amp = FreeTcpPort(), ref = FreeTcpPort();
    WriteWholeFile(root.Path("/opt/set/setup.txt"),
                   "EnableKeyb: 0\nEnableGPIO: 0\nEnableLinear: 1\nEnableTime: 1\nWebSocket: 0\n");
    WriteWholeFile(root.Path("/opt/set/options.txt"),
                   "RigctldPort: " + std::to_string(rig) +
                       "\nAmpctldServer: 1\nAmpctldPort: " + std::to_string(amp) + "\n");
    std::string bank = ReadWholeFile(root.Path("/opt/set/antenna_b1.txt"));
    WriteWholeFile(root.Path("/opt/set/antenna_b1.txt"),
                   "!Net\n" + bank.substr(bank.find('\n') + 1));
    const std::string rigctld = "rigctld -m 1 -P RIG -T 127.0.0.1 -t " + std::to_string(rig);
    auto daemon = std::make_unique<Daemon>(rigctld);
    Daemon reference("ampctld -m 1 -T 127.0.0.1 -t " + std::to_string(ref));
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    auto OnWire = [](SimBoard *b, const char *t) { return Wire(b).find(t) != std::string::npos; };
    auto digits = [](const std::string &t) { // each run of digits as "N"
        std::string out;
        for (size_t i = 0; i < t.size(); i++) {
            bool digit = t[i] >= '0' && t[i] <= '9';
            if (!digit)
                out += t[i];
            else if (i == 0 || t[i - 1] < '0' || t[i - 1] > '9')
                out += 'N';
        }
        return out;
    };

    // The dummy's 145 MHz is not followed (an HF unit); 6 m (no band row
    // here), then 40 m: the 40 m actions on the wire, in order.
    const std::string rigctl = "rigctl -m 2 -r 127.0.0.1:" + std::to_string(rig);
    auto tune6 = [&] { return std::system((rigctl + " F 50100000 2>/dev/null").c_str()) == 0; };
    ASSERT_TRUE(WaitUntil(tune6, 10000));
    ASSERT_TRUE(WaitUntil([&] { return OnWire(&board, "FA00050100000;"); }, 40000)) << p.Err();
    EXPECT_EQ(Wire(&board).find("FA00145000000;"), std::string::npos);
    ASSERT_EQ(std::system((rigctl + " F 7074000").c_str()), 0);
    std::string wire;
    size_t fa = 0, sa = 0, mt = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            wire = Wire(&board);
            fa = wire.find("FA00007074000;"), sa = wire.find("SA2;", fa),
            mt = wire.find("MT100804F04;", sa); // C 210, L 96
            return fa != std::string::npos && sa != std::string::npos && mt != std::string::npos;
        },
        5000))
        << wire;

    // Command by command against ampctld, once both hold the same values.
    ASSERT_TRUE(WaitUntil([&] { return Ask(amp, "\\get_powerstat\n") == "4\n"; }, 5000));
    Ask(ref, "F 7074000\n\\set_powerstat 4\n");
    // (requests without their final line feed)
    // clang-format off
    const char *const same[] = {"f", "+f", ";f", "|\\get_freq", "\\dump_state", "\\get_powerstat",
        "+\\get_powerstat", ";\\get_powerstat", "\\set_powerstat 4", "+\\set_powerstat 4",
        ",\\set_powerstat 4", "\\set_powerstat abc", "R 1", "+R 1", ";R 1", "R 5", "l FOO", "+l FOO",
        "# a note\nf", "f\r", "q\nf"};
    const char *const masked[] = {"l SWR", "+l SWR", ";l SWR", "l PWRFORWARD", "+l PWRREFLECTED",
        "|l PWRINPUT", "l PWRPEAK", "f l SWR"};
    // clang-format on
    for (std::string req : same)
        EXPECT_EQ(Ask(amp, req + "\n"), Ask(ref, req + "\n")) << req;
    for (std::string req : masked)
        EXPECT_EQ(digits(Ask(amp, req + "\n")), digits(Ask(ref, req + "\n"))) << req;
    EXPECT_EQ(Ask(amp, "F 7000000\n+R 0\nZ f\n"), "RPRT -9\nreset: 0\nRPRT -9\nRPRT -4\n");

    // A transmission read back; no stand-by under it, stand-by after it.
    SimBoardSet(&board, [](SimBoardState &st) { st.driveW = 5.0f; }); // 50 W at SWR 1.2
    ASSERT_TRUE(WaitUntil([&] { return Ask(amp, "l PWRFORWARD\n") == "50\n"; }, 5000));
    EXPECT_NEAR(std::stod(Ask(amp, "l SWR\n")), 1.2, 0.05);
    EXPECT_EQ(Ask(amp, "\\set_powerstat 2\n"), "RPRT -9\n");
    SimBoardSet(&board, [](SimBoardState &st) { st.driveW = 0.0f; });
    EXPECT_TRUE(WaitUntil([&] { return Ask(amp, "\\set_powerstat 2\n") == "RPRT 0\n"; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return OnWire(&board, "AB1;"); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return Ask(amp, "\\get_powerstat\n") == "2\n"; }, 5000));

    // The daemon gone: the warning; back: the warning leaves and the unit follows.
    daemon.reset();
    EXPECT_TRUE(
        WaitUntil([&] { return Ask(amp, "l WARNING\n") == "rigctld unreachable\n"; }, 5000));
    daemon = std::make_unique<Daemon>(rigctld);
    EXPECT_EQ(Ask(amp, "l WARNING\n"), "rigctld unreachable\n") << "145 MHz is no answer";
    ASSERT_TRUE(WaitUntil(tune6, 10000));
    EXPECT_TRUE(WaitUntil([&] { return Ask(amp, "l WARNING\n") == "None\n"; }, 15000));
    EXPECT_TRUE(WaitUntil([&] { return Ask(amp, "f\n") == "50100000\n"; }, 5000));
    EXPECT_GE(p.Stop(SIGTERM, 8000), 0);
    SimBoardStop(&board);
}

TEST(HamlibEndToEnd, Ft817BehindRigctldGivesFrequencyAndTxReady) {
    ScopedSimRoot root;
    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Ft817;
    cfg.root = root.root;
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);
    const std::string port = std::to_string(FreeTcpPort());
    Daemon rig("rigctld -m 1020 -r " + root.Path("/dev/ttyUSB1") + " -T 127.0.0.1 -t " + port);
    ScreenUnit u;
    Works *w = &u.works;
    w->options.rigctldPort = std::stoi(port);
    w->ModeWorkIdx = 3;
    w->rigctlOn = '1';
    int code = 0;
    {
        RunningThread client(Rigctl, w);
        EXPECT_TRUE(WaitUntil([&] { return w->rigFreq.load() == 14074000; }, 10000));
        SimRadioSetFreq(radio, 7074000);
        EXPECT_TRUE(WaitUntil([&] { return w->rigFreq.load() == 7074000; }, 5000));
        ASSERT_EQ(std::system(("rigctl -m 2 -r 127.0.0.1:" + port + " T 1").c_str()), 0);
        EXPECT_TRUE(WaitUntil([&] { return w->rigPtt.load() == 1; }, 5000));
        SupervisorState st;
        SupervisorStart(w, &st, 1000);
        SupervisorStep(w, &st, 1010);
        EXPECT_EQ(w->freq.load(), 7074000);
        EXPECT_EQ(w->txReady.load(), 1);
        EXPECT_TRUE(CmdQueueTake(w, &code) && code == 9); // "FA" first
        w->rigctlOn = '0';
        EXPECT_TRUE(client.WaitDone(3000));
    }
    SimRadioStop(radio);
    // A client's changes: refused while a tune runs, else as the keys do.
    AmpctldServer srv;
    std::string carry;
    bool quit = false;
    auto ask = [&](const char *line) { return AmpctldRequest(w, &srv, &carry, line, &quit); };
    w->errSuspend = 0;
    AddErrore(w, kErrRigctld);
    while (CmdQueueTake(w, &code)) {
    }
    w->bypass = 1; // stand-by: neither a NUL nor a power-off takes it anywhere
    EXPECT_EQ(AmpctldRequest(w, &srv, &carry, std::string("\0 2", 3), &quit), "RPRT -4\n");
    EXPECT_EQ(AmpctldRequest(w, &srv, &carry, std::string("+\0 4", 4), &quit), "RPRT -4\n");
    EXPECT_EQ(ask("\\set_powerstat 0"), "RPRT -9\n");
    EXPECT_FALSE(CmdQueueTake(w, &code)) << "nothing for the board";
    w->tuneState = 1;
    EXPECT_EQ(ask("\\set_powerstat 2 R 1"), "RPRT -9\nRPRT -9\n");
    w->tuneState = 0;
    w->bypass = 0;
    EXPECT_EQ(ask("R 1 \\set_powerstat"), "RPRT 0\n");
    EXPECT_EQ(ExistError(w, kErrRigctld), 0); // acknowledged as key 1 does
    EXPECT_EQ(ask("2"), "RPRT 0\n");          // the argument on the next line
    EXPECT_EQ(w->attenuatorShown.load(), 4);
    while (CmdQueueTake(w, &code) && code != 20) {
    }
    EXPECT_EQ(code, 20); // "AB1;"

    // Four clients that sit idle: a fifth takes the slot of the one silent
    // longest, and 60 s of silence closes a client.
    AmpctldServer live;
    const int ampPort = w->options.ampctldPort = FreeTcpPort();
    auto dial = [&](uint64_t now) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(ampPort)), {htonl(INADDR_LOOPBACK)}, {}};
        AmpctldStep(w, &live, now, 0); // listening from the first
        connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        send(fd, "f\n", 2, MSG_NOSIGNAL);
        char c[64];
        ssize_t n = -1;
        for (int k = 0; k < 400 && n < 0; k++, n = recv(fd, c, sizeof c, MSG_DONTWAIT))
            AmpctldStep(w, &live, now, 5);
        EXPECT_GT(n, 0) << "served at " << now;
        return fd;
    };
    auto closed = [](int fd) {
        char c;
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, 3000) == 1 && recv(fd, &c, 1, 0) == 0;
    };
    int fds[5];
    for (int i = 0; i < 5; i++)
        fds[i] = dial(1000 + 1000 * static_cast<uint64_t>(i));
    EXPECT_TRUE(closed(fds[0]));
    EXPECT_LT(recv(fds[1], &code, 1, MSG_DONTWAIT), 0) << "the others stay";
    AmpctldStep(w, &live, 5000 + kAmpctldIdleMs, 0);
    EXPECT_TRUE(closed(fds[4]));
    AmpctldCloseAll(&live);
    for (int fd : fds)
        close(fd);
}

} // namespace
