// FT-817 CAT polling, the TAV CAT port probe, the pass-through cutting and
// the presence checks; the real threads against the simulated radios, and
// Hamlib's rigctl against the simulated FT-817.
#include "radio.h"
#include "unit.h"

#include "platform/clock.h"
#include "transceiver/cat.h"
#include "remote/audio.h"
#include "transceiver/cat_serial.h"
#include "model/errors.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

struct Unit : TestUnit {
    Unit() {
        InitErrTab(w());
        works.errSuspend = 0;
    }
};

TEST(Ft817Bcd, ValidAndInvalidReplies) {
    EXPECT_FALSE(VerifyByteFreq(0x00));
    EXPECT_FALSE(VerifyByteFreq(0x99));
    EXPECT_TRUE(VerifyByteFreq(0x4A));
    EXPECT_TRUE(VerifyByteFreq(0xA6));
    EXPECT_TRUE(VerifyByteFreq(0xF0));

    Unit u;
    const uint8_t good[5] = {0x01, 0x42, 0x34, 0x56, 0x01};
    lastCommandSent = 3;
    DecodeCatSerialCmd(u.w(), good, 5);
    EXPECT_EQ(u.works.catFreq.load(), 14234560);
    EXPECT_EQ(u.works.catMode.load(), 0x01);
    EXPECT_EQ(lastCommandSent.load(), 0);

    for (const uint8_t *bad :
         {(const uint8_t *)"\x01\x4A\x34\x56\x02", (const uint8_t *)"\x01\x42\x34\xA6\x02"}) {
        lastCommandSent = 3;
        testing::internal::CaptureStderr();
        DecodeCatSerialCmd(u.w(), bad, 5);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(u.works.catFreq.load(), 14234560);
        EXPECT_NE(err.find("CAT FT817 freq not decoded :  01 "), std::string::npos) << err;
    }
    // A reply that does not answer the frequency request is not decoded.
    const uint8_t other[5] = {0x00, 0x70, 0x74, 0x00, 0x01};
    lastCommandSent = 0;
    DecodeCatSerialCmd(u.w(), other, 5);
    EXPECT_EQ(u.works.catFreq.load(), 14234560);
}

TEST(Ft817Step, RequestReplyAndSilence) {
    Unit u;
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    CatSerialLink l;
    l.fd = sv[0];
    catProcessStatus = 3;
    EXPECT_EQ(CatSerialStep(u.w(), &l, 0), 0);
    uint8_t req[8];
    ASSERT_EQ(read(sv[1], req, sizeof req), 5);
    EXPECT_EQ(std::memcmp(req, "\x00\x00\x00\x00\x03", 5), 0);
    EXPECT_EQ(catProcessStatus.load(), 2);
    // The reply in two pieces.
    ASSERT_EQ(write(sv[1], "\x02\x10", 2), 2);
    while (CatSerialStep(u.w(), &l, 10) == 0 && catProcessStatus == 2) {
    }
    ASSERT_EQ(write(sv[1], "\x00\x00\x03", 3), 3);
    while (catProcessStatus == 2)
        ASSERT_LE(CatSerialStep(u.w(), &l, 20), 2);
    EXPECT_EQ(CatSerialStep(u.w(), &l, 20), 20); // decode, then the pause
    EXPECT_EQ(u.works.catFreq.load(), 21000000);
    EXPECT_EQ(catProcessStatus.load(), 3);

    // Silence: after 1.5 s the partial reply is dropped and the request repeated after 1 s.
    EXPECT_EQ(CatSerialStep(u.w(), &l, 1000), 0);
    ASSERT_EQ(read(sv[1], req, sizeof req), 5);
    ASSERT_EQ(write(sv[1], "\x07", 1), 1);
    EXPECT_EQ(CatSerialStep(u.w(), &l, 1100), 0);
    EXPECT_EQ(CatSerialStep(u.w(), &l, 2499), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(CatSerialStep(u.w(), &l, 2500), 1000);
    EXPECT_EQ(
        testing::internal::GetCapturedStderr().find("<<<<<<<<<<<<<<<<<<<<TIMEOUT SERIAL CAT!!!!\n"),
        0u);
    EXPECT_EQ(catProcessStatus.load(), 3);
    EXPECT_EQ(l.got, 0);
    EXPECT_EQ(ExistError(u.w(), 8), 0);
    EXPECT_EQ(ExistError(u.w(), kErrCatNoAnswer), 1); // the radio's own warning
    // It leaves by itself when the radio answers again.
    EXPECT_EQ(CatSerialStep(u.w(), &l, 3500), 0);
    ASSERT_EQ(read(sv[1], req, sizeof req), 5);
    ASSERT_EQ(write(sv[1], "\x00\x70\x74\x00\x01", 5), 5);
    while (catProcessStatus == 2)
        CatSerialStep(u.w(), &l, 3510);
    CatSerialStep(u.w(), &l, 3510);
    EXPECT_EQ(ExistError(u.w(), kErrCatNoAnswer), 0);

    // A stray byte before the request is dropped, not taken as the reply's first.
    auto exchange = [&](const char *reply, int len, uint64_t t) {
        ASSERT_EQ(write(sv[1], "\x55", 1), 1);
        catProcessStatus = 3;
        CatSerialStep(u.w(), &l, t);
        ASSERT_EQ(read(sv[1], req, sizeof req), 5);
        ASSERT_EQ(write(sv[1], reply, len), len);
        while (catProcessStatus == 2)
            CatSerialStep(u.w(), &l, t);
        CatSerialStep(u.w(), &l, t);
    };
    exchange("\x01\x40\x70\x00\x01", 5, 4000);
    EXPECT_EQ(u.works.catFreq.load(), 14070000);
    // Digits that are no answer of the radio (a frequency it cannot have, an
    // unknown mode, a sixth byte) are refused; three in a row raise warning 25.
    exchange("\x06\x00\x00\x00\x01", 5, 4100);
    exchange("\x01\x40\x70\x00\x77", 5, 4200);
    EXPECT_EQ(ExistError(u.w(), kErrCatNoAnswer), 0);
    exchange("\x01\x40\x70\x00\x01\x00", 6, 4300);
    EXPECT_EQ(u.works.catFreq.load(), 14070000);
    EXPECT_EQ(ExistError(u.w(), kErrCatNoAnswer), 1);
    exchange("\x00\x70\x74\x00\x01", 5, 4400);
    EXPECT_EQ(u.works.catFreq.load(), 7074000);
    EXPECT_EQ(ExistError(u.w(), kErrCatNoAnswer), 0);
    close(sv[0]);
    close(sv[1]);
}

TEST(Ft817Thread, FrequencyReachesCatFreqOnTheRealLine) {
    ScopedSimRoot root;
    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Ft817;
    cfg.root = root.root;
    cfg.freq = 14234560;
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);
    Unit u;
    u.works.running = 1;
    u.setup.EnableCatSerial = '1';
    {
        RunningThread th(CatSerial, u.w());
        EXPECT_TRUE(WaitUntil([&] { return u.works.catFreq.load() == 14234560; }, kPatienceMs));
        // The line as the controller set it: 38400 baud, 8 data bits, 2 stop bits, raw.
        int fd = open(SimRadioPty(radio).c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios tio;
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        close(fd);
        EXPECT_EQ(cfgetospeed(&tio), (speed_t)B38400);
        EXPECT_EQ(cfgetispeed(&tio), (speed_t)B38400);
        EXPECT_TRUE(tio.c_cflag & CSTOPB);
        EXPECT_EQ(tio.c_cflag & CSIZE, (tcflag_t)CS8);
        EXPECT_FALSE(tio.c_cflag & PARENB);
        EXPECT_FALSE(tio.c_lflag & ICANON);
        SimRadioSetFreq(radio, 7074000);
        EXPECT_TRUE(WaitUntil([&] { return u.works.catFreq.load() == 7074000; }, kPatienceMs));
        u.setup.EnableCatSerial = '0';
        EXPECT_TRUE(th.WaitDone(kPatienceMs));
    }
    for (const std::string &c : SimRadioCommands(radio))
        EXPECT_EQ(c, "op=03");
    SimRadioStop(radio);

    // No port at start: the link waits with warning 25 and opens the port
    // once it appears.
    Unit v;
    v.works.running = 1;
    v.setup.EnableCatSerial = '1';
    RunningThread th(CatSerial, v.w());
    EXPECT_TRUE(WaitUntil([&] { return ExistError(v.w(), kErrCatNoAnswer) == 1; }, kPatienceMs));
    EXPECT_FALSE(th.WaitDone(10));
    radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return v.works.catFreq.load() == 14234560; }, kPatienceMs));
    EXPECT_TRUE(WaitUntil([&] { return ExistError(v.w(), kErrCatNoAnswer) == 0; }, kPatienceMs));
    v.setup.EnableCatSerial = '0';
    EXPECT_TRUE(th.WaitDone(kPatienceMs));
    EXPECT_EQ(v.works.portError.load(), 0);
    SimRadioStop(radio);
}

std::string Shell(const std::string &cmd) {
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) return out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

TEST(Ft817Sim, HamlibReadsAndSetsTheFrequency) {
    if (Shell("command -v rigctl").empty()) GTEST_SKIP() << "rigctl not installed";
    ScopedSimRoot root;
    SimRadioConfig cfg;
    cfg.kind = SimRadioKind::Ft817;
    cfg.root = root.root;
    cfg.freq = 14234560;
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);
    std::string port = root.Path("/dev/ttyUSB1");
    // The FT-817 is model 1020 in Hamlib's list.
    EXPECT_EQ(Shell("rigctl -m 1020 -r " + port + " f 2>&1"), "14234560\n");
    Shell("rigctl -m 1020 -r " + port + " F 7074000 2>&1");
    EXPECT_EQ(SimRadioFreq(radio), 7074000u);
    EXPECT_EQ(Shell("rigctl -m 1020 -r " + port + " f 2>&1"), "7074000\n");
    SimRadioStop(radio);
}

// ---- the TAV CAT port probe ----

// A pseudo-terminal at <root>/dev/<name> that answers "DT;" with `answer`.
struct FakeCatPort {
    int master = -1;
    std::string slaveName;
    std::atomic<bool> run{true};
    std::thread t;
    FakeCatPort(const std::string &link, const std::string &answer) {
        int slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
        slaveName = ttyname(slave);
        termios tio;
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        close(slave);
        EXPECT_EQ(symlink(slaveName.c_str(), link.c_str()), 0);
        t = std::thread([this, answer] {
            std::string got;
            while (run) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                char c;
                if (read(master, &c, 1) != 1) continue;
                got += c;
                if (got.size() >= 3 && got.compare(got.size() - 3, 3, "DT;") == 0) {
                    if (write(master, answer.data(), answer.size()) < 0) break;
                }
            }
        });
    }
    ~FakeCatPort() {
        run = false;
        if (t.joinable()) t.join();
        close(master);
    }
};

// Descriptors of this process open on `tty`.
int OpenOn(const std::string &tty) {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = readdir(d)) {
        char target[256];
        std::string p = std::string("/proc/self/fd/") + e->d_name;
        ssize_t k = readlink(p.c_str(), target, sizeof target - 1);
        if (k > 0 && std::string(target, (size_t)k) == tty) n++;
    }
    closedir(d);
    return n;
}

TEST(CatProbe, MatchNonMatchAndNoDevice) {
    ScopedSimRoot root;
    Unit u;
    // No device at all: fails at once.
    testing::internal::CaptureStderr();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(VerifyCAT(u.w()), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(kPromptMs));
    EXPECT_NE(err.find("No CAT serial port found"), std::string::npos) << err;

    // VORNCAT0 the transceiver, VORNCAT1 a device that stops after "DT" and
    // VORNCAT2 one that answers "DT002;". Tried last to first.
    SimRadioConfig cfg;
    cfg.root = root.root;
    cfg.paramPeriodMs = 0;
    cfg.port = "/dev/ttyUSB1";
    SimRadio *radio = SimRadioStart(cfg);
    ASSERT_NE(radio, nullptr);
    FakeCatPort partial(root.Path("/dev/VORNCAT1"), "DT");
    FakeCatPort wrong(root.Path("/dev/VORNCAT2"), "DT002;");
    testing::internal::CaptureStderr();
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(VerifyCAT(u.w()), 0);
    auto took = std::chrono::steady_clock::now() - t0;
    err = testing::internal::GetCapturedStderr();
    // The quiet port is given up at its bound, not read for ever.
    EXPECT_LT(took, std::chrono::milliseconds(kCatProbeBoundMs + kPromptMs))
        << "the partial answer held the probe";
    size_t p2 = err.find("Opened /dev/VORNCAT2---");
    size_t p1 = err.find("Opened /dev/VORNCAT1---");
    size_t p0 = err.find("Opened /dev/VORNCAT0---");
    EXPECT_TRUE(p2 < p1 && p1 < p0 && p0 != std::string::npos) << err;
    EXPECT_NE(err.find("CAT serial found:  /dev/VORNCAT0---"), std::string::npos) << err;
    // The ports that did not match are closed again.
    EXPECT_EQ(OpenOn(wrong.slaveName), 0);
    EXPECT_EQ(OpenOn(partial.slaveName), 0);
    std::string log = ReadWholeFile(root.Path("/var/log/helix.log"));
    EXPECT_NE(log.find("Cannot connect TAV using /dev/VORNCAT2"), std::string::npos);

    // The port found talks to the transceiver's CAT side.
    int fd = u.works.catFD;
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "FA;", 3), 3);
    char buf[32] = {};
    std::string answer;
    WaitUntil(
        [&] {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) answer.append(buf, (size_t)n);
            return answer.find("0;") != std::string::npos;
        },
        kPatienceMs);
    // The probe takes the five bytes "DT001"; the ';' of that answer comes first.
    EXPECT_EQ(answer, ";FA00014074000;");
    close(fd);
    SimRadioStop(radio);
}

TEST(CatPassThrough, ThreadEndsPromptlyWhenTheRunEndsBeforeTheProbe) {
    ScopedSimRoot root;
    Unit u;
    // A port that answers part of "DT001" would hold a probe for seconds.
    FakeCatPort partial(root.Path("/dev/VORNCAT0"), "DT");
    u.setup.EnableCAT = '1';
    testing::internal::CaptureStderr();
    uint64_t t0 = NowMs();
    RunningThread t(Cat, u.w());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    u.works.running = 0;
    EXPECT_TRUE(t.WaitDone(kPatienceMs));
    // It left its 3 s wait when the run ended, not at the wait's end.
    EXPECT_LT(NowMs() - t0, 3000u);
    t.t.join();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("CAT serial search..."), std::string::npos) << err;
    EXPECT_EQ(u.setup.EnableCAT.load(), '0');
}

// The probe of a port that answers only part of "DT001" takes seconds; a
// remote stop in the meantime ends it within a few polls.
TEST(CatProbe, StopsWhenItsSwitchDrops) {
    ScopedSimRoot root;
    Unit u;
    FakeCatPort partial(root.Path("/dev/VORNCAT0"), "DT");
    u.setup.EnableCAT = '1';
    std::atomic<int> result{1};
    testing::internal::CaptureStderr();
    std::thread probe([&] { result = VerifyCAT(u.w(), &u.setup.EnableCAT); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    u.setup.EnableCAT = '0';
    probe.join();
    testing::internal::GetCapturedStderr();
    // -2: ended by the switch, before the port's own bound (which gives -1).
    EXPECT_EQ(result.load(), -2);
    EXPECT_EQ(OpenOn(partial.slaveName), 0) << "the port is closed again";
}

TEST(CatPassThrough, AnswersAreCutAtSemicolons) {
    CatCollector c;
    std::vector<std::string> out;
    auto feed = [&](const std::string &s) {
        for (char ch : s) {
            int n = CatCollect(&c, static_cast<uint8_t>(ch));
            if (n > 0) out.emplace_back(reinterpret_cast<char *>(c.buf), (size_t)n);
        }
    };
    feed("DT001;FA00014074000;");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "DT001;");
    EXPECT_EQ(out[1], "FA00014074000;");
    out.clear();
    std::string longest(199, 'x');
    feed(longest + ";");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].size(), 200u);
    out.clear();
    feed(std::string(200, 'y')); // no ';' within 200: dropped
    feed("MD2;");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "MD2;");
}

TEST(CatPassThrough, ExitClosesAndReports) {
    Unit u;
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    u.works.catFD = sv[0];
    u.setup.EnableCAT = '1';
    status_cat = 1;
    ExitCAT(u.w());
    EXPECT_EQ(fcntl(sv[0], F_GETFD), -1); // closed
    EXPECT_EQ(u.works.catFD.load(), -1);
    EXPECT_EQ(u.works.remoteFault.load(), 1);
    EXPECT_EQ(u.setup.EnableCAT.load(), '0');
    EXPECT_NE(ExistError(u.w(), 20), 0);
    EXPECT_EQ(status_cat.load(), 0);
    close(sv[1]);

    // The step forwards a burst and ends on a failed port.
    CatCollector c;
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    u.setup.EnableCAT = '1';
    EXPECT_EQ(CatStep(u.w(), &c, sv[0]), 1); // nothing waits: paced
    ASSERT_EQ(write(sv[1], "DT001;FA", 8), 8);
    EXPECT_EQ(CatStep(u.w(), &c, sv[0]), 0);
    EXPECT_EQ(c.pos, 2); // "FA" waits for its ';'
    close(sv[0]);
    close(sv[1]);
    EXPECT_EQ(CatStep(u.w(), &c, sv[0]), -1);
}

TEST(RemoteCheck, AudioDeviceCountAndNoTransceiver) {
    ScopedSimRoot root;
    Unit u;
    uint64_t t = 1000000;
    EXPECT_EQ(VerifyAudioTAV(u.w(), t), 0);
    WriteWholeFile(root.Path("/lsusb.txt"), "Bus 001 Device 004: ID 0d8c:01af C-Media\n"
                                            "Bus 001 Device 001: ID 1d6b:0002 Linux hub\n");
    EXPECT_EQ(VerifyAudioTAV(u.w(), t + 500), 0); // looked at once a second
    EXPECT_EQ(VerifyAudioTAV(u.w(), t + 1000), 1);
    // The transceiver is looked for in the root's bus list, not the host's.
    EXPECT_EQ(Find_Remote_Settings(u.w()), 1);
    WriteWholeFile(root.Path("/lsusb.txt"), "Bus 001 Device 005: ID 1721:061a TAV\n");
    EXPECT_EQ(Find_Remote_Settings(u.w()), 2); // listed, but no CAT port answers
}

} // namespace
