// The power-board link: the frame and its CRC, the command texts, the choice
// of the next command, the step function pass by pass on a fake clock, the
// replies and the status algorithm with temperature and fan, the simulated
// board's model, and the link thread against the simulated board over a
// pseudo-terminal.
#include "amplifier/commands.h"
#include "amplifier/decode.h"
#include "amplifier/linear.h"
#include "amplifier/temp_log.h"
#include "amplifier/temperature.h"
#include "board.h"
#include "config/band_table.h"
#include "config/fan_table.h"
#include "config/filter_table.h"
#include "model/cmd_queue.h"
#include "model/errors.h"
#include "platform/clock.h"
#include "supervisor/thresholds.h"
#include "unit.h"

#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// `text` as the board frames it: the CRC-8 in two hex digits, then the text.
std::string Framed(const std::string &text, bool upper = true) {
    char crc[3];
    std::snprintf(crc, sizeof crc, upper ? "%02X" : "%02x",
                  Sys_Crc8Calculation(text.c_str(), text.size()));
    return crc + text;
}

int Decode(Works *w, const std::string &reply) {
    return DecodeCatCmd(w, reply.c_str(), static_cast<int>(reply.size()));
}

// A unit whose link port is one end of a socket pair, the test holding the
// other (the board's side); the link's step runs on the fake clock `now`.
struct Rig {
    TestUnit u;
    LinearLink link;
    int fd[2] = {-1, -1};
    uint64_t now = 100000;
    Rig() {
        socketpair(AF_UNIX, SOCK_STREAM, 0, fd);
        u.w()->linFD = fd[0];
        u.w()->linearProcessStatus = kLinStatus;
        u.w()->errSuspend = 0;
        u.w()->fanPercent = 100; // no fan table: full speed, already sent
    }
    ~Rig() {
        close(fd[0]);
        close(fd[1]);
    }
    Works *w() { return u.w(); }
    // What the link wrote since the last call.
    std::string Sent() {
        std::string out;
        char buf[256];
        ssize_t n;
        while ((n = recv(fd[1], buf, sizeof buf, MSG_DONTWAIT)) > 0)
            out.append(buf, static_cast<size_t>(n));
        return out;
    }
    void Reply(const std::string &text, bool upper = true) { RawReply(Framed(text, upper)); }
    void RawReply(const std::string &bytes) {
        ASSERT_EQ(write(fd[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Runs passes until the link waits with nothing to read (or `limit` passes).
    void Run(int limit = 2000) {
        for (int i = 0; i < limit; i++) {
            int pause = LinearStep(w(), &link, now);
            now += static_cast<uint64_t>(pause);
            if (w()->linearProcessStatus.load() == kLinWait && pause == 1) return;
        }
    }
};

// A status reply as the board sends it, the fields by name.
struct Status {
    int s0 = 0, s1 = 0, s2 = 0;
    int in = 0, fwd = 0, refl = 0, aux = 0, t1 = 2048, t2 = 2048, auxFwd = 0;
    std::string Text() const {
        char b[64];
        std::snprintf(b, sizeof b, "ST%X%X%04d%04d%04d%04d%04d%04d%X%X00%04d;", s0, s1, in, fwd,
                      refl, aux, t1, t2, s2 & 15, s2 >> 4, auxFwd);
        return b;
    }
};

const std::string kIdle = Status{}.Text();

TEST(LinearFrame, CrcCheckValueAndStatusFrame) {
    EXPECT_EQ(Sys_Crc8Calculation("123456789", 9), 0xA1);
    EXPECT_EQ(Sys_Crc8Calculation("", 0), 0x00);
    Rig r;
    EXPECT_EQ(writeLinearPort(r.fd[0], "ST;", 3, r.w()), 0);
    EXPECT_EQ(r.Sent(), "4dST;");
    r.w()->counterrortimeout = 77;
    writeLinearPort(r.fd[0], "FM;", 3, r.w());
    EXPECT_EQ(r.Sent(), Framed("FM;", false));
    EXPECT_EQ(r.w()->counterrortimeout.load(), 0);
}

TEST(LinearFrame, WriteToDeadPortReturns) {
    TestUnit u;
    int fd[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0);
    close(fd[1]);
    signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(writeLinearPort(fd[0], "ST;", 3, u.w()), -1);
    close(fd[0]);
}

TEST(LinearCommands, EveryCodeFormatsItsText) {
    TestUnit u;
    Works *w = u.w();
    w->antenna = 1;
    w->freq = 14074000;
    w->tunerWord = 0x00ABCDEF;
    w->fsMode = 1;
    w->fsValue = 2500;
    w->attenuator = 2;
    w->attenuatorTune = 1;
    w->antInput = 1;
    for (int i = 0; i < 4; i++)
        w->tsThreshold[i] = 100 * (i + 1);
    for (int i = 0; i < 4; i++)
        w->psValue[i] = i + 1;
    w->gmValue[0] = 2;
    w->gmValue[1] = 100;
    w->filterBits = 0x2A;
    w->fanTarget = 75;
    std::snprintf(w->genSettings, sizeof w->genSettings, "ABCDEFGHIJ");
    const std::map<int, std::pair<std::string, std::string>> want = {
        {0, {"VSM;", "VS"}},           {1, {"ST;", "ST"}},
        {7, {"SA2;", "SA"}},           {8, {"FM;", "FM"}},
        {9, {"FA00014074000;", "FA"}}, {10, {"MT;", "MT"}},
        {11, {"MT100ABCDEF;", "MT"}},  {12, {"FS10250;", "FS"}},
        {13, {"CPFFFF;", "CP"}},       {14, {"AT10;", "AT"}},
        {15, {"AT01;", "AT"}},         {16, {"AT11;", "AT"}},
        {17, {"MP0;", "MP"}},          {18, {"MP1;", "MP"}},
        {19, {"AB0;", "AB"}},          {20, {"AB1;", "AB"}},
        {21, {"AN1;", "AN"}},          {22, {"TS0100020003000400;", "TS"}},
        {23, {"FN1075;", "FN"}},       {24, {"PS0001000200030004;", "PS"}},
        {27, {"MT100ABCDEF;", "MT"}},  {28, {"SF300002a;", "SF"}},
        {30, {"MR1;", "MR"}},          {32, {"MR0;", "MR"}},
        {33, {"GM00020100;", "GM"}},   {34, {"GS;", "GS"}},
        {35, {"GSABCDEFGHIJ;", "GS"}}, {36, {"ER0000;", "ER"}},
        {37, {"ER0001;", "ER"}},       {38, {"ER0002;", "ER"}},
        {39, {"MT100ABCDEF;", "MT"}},  {40, {"MT100ABCDEF;", "MT"}},
    };
    for (int code = 0; code <= 45; code++) {
        char text[64], letters[2] = {0, 0};
        int n = FormatLinearCmd(w, code, text, sizeof text, letters);
        auto it = want.find(code);
        if (it == want.end()) {
            EXPECT_EQ(n, -1) << "code " << code;
            EXPECT_FALSE(IsLinearCmd(code)) << "code " << code;
            continue;
        }
        EXPECT_TRUE(IsLinearCmd(code));
        EXPECT_EQ(std::string(text, n), it->second.first) << "code " << code;
        EXPECT_EQ(std::string(letters, 2), it->second.second) << "code " << code;
    }
    // Fan below half speed, attenuator table, fixed widths held.
    w->fanTarget = 30;
    char text[64], l[2];
    FormatLinearCmd(w, 23, text, sizeof text, l);
    EXPECT_STREQ(text, "FN0050;");
    const char *att[] = {"AT00;", "AT01;", "AT10;", "AT11;"};
    for (int v = 0; v < 4; v++) {
        w->attenuator = static_cast<uint8_t>(v);
        FormatLinearCmd(w, 14, text, sizeof text, l);
        EXPECT_STREQ(text, att[v]);
    }
    w->antenna = 12;
    FormatLinearCmd(w, 7, text, sizeof text, l);
    EXPECT_EQ(std::strlen(text), 4u) << text;
    w->tsThreshold[0] = 123456;
    FormatLinearCmd(w, 22, text, sizeof text, l);
    EXPECT_EQ(std::strlen(text), 19u) << text;
}

TEST(LinearCommands, SendStepsAndTunerWordCodes) {
    Rig r;
    Works *w = r.w();
    testing::internal::CaptureStderr();

    w->tunerWord = 0x00850000; // bits 16, 18, 23
    LinearSendCommand(w, 39);
    EXPECT_EQ(r.Sent().substr(2), "MT100010000;");
    EXPECT_EQ(w->tunerThrough.load(), 1);
    EXPECT_EQ(w->linearProcessStatus.load(), kLinWait);
    EXPECT_EQ(w->lastCmdCode.load(), 39);
    EXPECT_EQ(w->tuneSem.load(), 0);

    w->tuneC = 5;
    w->tuneL = 9;
    LinearSendCommand(w, 40);
    EXPECT_EQ(r.Sent().substr(2), "MT100800000;");
    EXPECT_EQ(w->tunerThrough.load(), 0);
    EXPECT_EQ(w->tuneC.load(), 0);
    EXPECT_EQ(w->tuneL.load(), 0);

    w->tunerWord = 0x00010000;
    LinearSendCommand(w, 11);
    r.Sent();
    EXPECT_EQ(w->tunerThrough.load(), 1);

    LinearSendCommand(w, 20);
    EXPECT_EQ(r.Sent().substr(2), "AB1;");
    EXPECT_EQ(w->bypassReq.load(), 1);
    EXPECT_EQ(w->attenuatorShown.load(), 4);
    LinearSendCommand(w, 19);
    r.Sent();
    EXPECT_EQ(w->bypassReq.load(), 0);

    w->attenuatorTune = 3;
    SetAttenuatorCMD(w, w->attenuatorTune.load(), 15);
    EXPECT_EQ(r.Sent().substr(2), "AT11;");
    EXPECT_EQ(std::string(w->lastCmd, 2), "AT");
    EXPECT_EQ(w->lastCmdCode.load(), 15);

    std::snprintf(w->genSettings, sizeof w->genSettings, "0000000000");
    w->ModeWorkIdx = 0;
    LinearSendCommand(w, 35);
    EXPECT_EQ(r.Sent().substr(2), "GS0200000000;");
    w->ModeWorkIdx = 1;
    LinearSendCommand(w, 35);
    EXPECT_EQ(r.Sent().substr(2), "GS0000000000;");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(">> AB1;\n"), std::string::npos);
    EXPECT_NE(err.find(">> AT11;\n"), std::string::npos);
}

// Two threads that both find the tuner-word flag free must not both enter.
TEST(LinearCommands, TuneSemIsExclusive) {
    Rig r;
    Works *w = r.w();
    w->tuneSem = 1; // held by someone else
    std::atomic<bool> done{false};
    std::thread t([&] {
        LinearSendCommand(w, 39);
        done = true;
    });
    SleepMs(50);
    EXPECT_FALSE(done.load()) << "entered while the flag was held";
    EXPECT_EQ(r.Sent(), "");
    w->tuneSem = 0;
    t.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(r.Sent().substr(2), "MT100010000;");
    // A stopping program does not wait for ever on the flag.
    w->tuneSem = 1;
    w->running = 0;
    EXPECT_EQ(LinearSendCommand(w, 40), -1);
}

TEST(LinearQueue, NextCmdPriorityAndDrainFlag) {
    TestUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    IncPNTIn_CMDLinear(7, w);
    IncPNTIn_CMDLinear(9, w);
    w->retryCount = 2;
    NextCmdPriority(w, 1);
    EXPECT_EQ(w->linearProcessStatus.load(), 1) << "without the drain flag the ring waits";
    EXPECT_EQ(w->retryCount.load(), 0);
    w->cmdQueueDrain = 1;
    NextCmdPriority(w, 1);
    EXPECT_EQ(w->linearProcessStatus.load(), 7);
    NextCmdPriority(w, 1);
    EXPECT_EQ(w->linearProcessStatus.load(), 9);
    NextCmdPriority(w, 1);
    EXPECT_EQ(w->linearProcessStatus.load(), 1);
    EXPECT_EQ(w->cmdQueueDrain.load(), 0);
    w->errResend = 1;
    NextCmdPriority(w, 1);
    EXPECT_EQ(w->errResend.load(), 2);
    // A code that names no command never becomes a link state.
    w->cmdQueueDrain = 1;
    IncPNTIn_CMDLinear(31, w);
    IncPNTIn_CMDLinear(2, w);
    IncPNTIn_CMDLinear(13, w);
    NextCmdPriority(w, 1);
    EXPECT_EQ(w->linearProcessStatus.load(), 13);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cmd ext: 7\n"), std::string::npos);
    EXPECT_NE(err.find(">>> ERRORI: Send All CMD for Error\n"), std::string::npos);
}

TEST(LinearStep, ExchangeAndAlternatingPoll) {
    Rig r;
    testing::internal::CaptureStderr();
    r.Run();
    EXPECT_EQ(r.Sent(), "4dST;");
    r.Reply(kIdle);
    r.Run();
    EXPECT_EQ(r.Sent().substr(2), "FM;");
    r.Reply("FM000014074000;");
    r.Run();
    EXPECT_EQ(r.Sent(), "4dST;");
    EXPECT_EQ(r.w()->freqMeasured.load(), 14074000);
    testing::internal::GetCapturedStderr();
}

// A silent board: a re-send every 1.5 s, three of them, then error 4 and back
// to the status poll; a second failure within the hold-off lists nothing.
TEST(LinearStep, SilenceRetriesEveryTimeoutThenErrorFour) {
    Rig r;
    Works *w = r.w();
    testing::internal::CaptureStderr();
    IncPNTIn_CMDLinear(7, w);
    r.Run();
    r.Sent();
    r.Reply(kIdle);
    r.Run();
    EXPECT_EQ(r.Sent().substr(2), "SA1;");
    uint64_t sent = r.now;
    // No reply: 1499 ms of polls change nothing, the 1500th re-sends.
    for (int i = 0; i < 4; i++) {
        while (r.now - sent < 1499) {
            LinearStep(w, &r.link, r.now);
            r.now += 1;
            if (r.now - sent < 1499) {
                ASSERT_EQ(r.Sent(), "") << "early re-send";
            }
        }
        // Every idle poll since the send was counted; the re-send starts afresh.
        EXPECT_GE(w->counterrortimeout.load(), 1498);
        r.now = sent + 1500;
        r.Run();
        EXPECT_LE(w->counterrortimeout.load(), 1);
        sent = r.now;
        if (i < 3) {
            EXPECT_EQ(r.Sent().substr(2), "SA1;") << "re-send " << i + 1;
            EXPECT_EQ(w->retryCount.load(), i + 1);
            EXPECT_EQ(ExistError(w, 4), 0);
        }
    }
    EXPECT_EQ(r.Sent(), "4dST;") << "after the third re-send: back to status";
    EXPECT_EQ(ExistError(w, 4), 1);
    EXPECT_STREQ(w->errDetail, "Err SA");
    EXPECT_EQ(w->retryCount.load(), 0);
    EXPECT_EQ(w->retryTotal.load(), 4);
    EXPECT_EQ(w->retryStops.load(), 1);
    EXPECT_EQ(w->errHoldOff.load(), 2000);
    DeleteErrore(w, 4);
    LastCmdSent(w, 'S', 'T', 1);
    for (int i = 0; i < 4; i++)
        GestRetrayCMD(w);
    EXPECT_EQ(ExistError(w, 4), 0);
    EXPECT_STREQ(w->errDetail, "Err ST");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("--------------------------------------- ERROR LINEAR: RETRAY SA (1 , 1)\n"),
              std::string::npos);
    EXPECT_NE(err.find("---------------------------------------STOP RETRAY!! SA (4, 3) Restart da "
                       "ST (Timer: 2000)\n"),
              std::string::npos);
}

// A reply failing its CRC, or refused, is not decoded and its command goes
// out again at once; the next good reply ends the retries.
TEST(LinearStep, CrcMismatchAndRefusalRetriedAtOnceNotDecoded) {
    Rig r;
    testing::internal::CaptureStderr();
    r.Run();
    r.Sent();
    // A reply whose CRC has a letter digit, sent in lower case, fails the check.
    std::string reply;
    char crc[3];
    for (int f = 14074000;; f++) {
        reply = "FM0000" + std::to_string(f) + ";";
        std::snprintf(crc, sizeof crc, "%02x", Sys_Crc8Calculation(reply.c_str(), reply.size()));
        if (std::isalpha(crc[0]) || std::isalpha(crc[1])) break;
    }
    r.Reply(reply, false);
    r.Run();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("**** CHK ERROR!! " + std::string(crc) + " " + crc + reply),
              std::string::npos)
        << err;
    EXPECT_EQ(r.w()->freqMeasured.load(), 0) << "a reply failing its CRC is not decoded";
    EXPECT_EQ(r.w()->retryCount.load(), 1);
    EXPECT_EQ(r.Sent(), "4dST;") << "the command is sent again";
    testing::internal::CaptureStderr();
    r.Reply("ST?;");
    r.Run();
    EXPECT_EQ(r.Sent(), "4dST;");
    EXPECT_EQ(r.w()->retryCount.load(), 2);
    r.Reply(kIdle);
    r.Run();
    EXPECT_EQ(r.w()->retryCount.load(), 0);
    testing::internal::GetCapturedStderr();
}

TEST(LinearStep, CutReplyIsClearedAtTheTimeOut) {
    Rig r;
    testing::internal::CaptureStderr();
    r.Run();
    EXPECT_EQ(r.Sent(), "4dST;");
    // A status reply with trip digits where the merged buffer would read S2.
    Status cut;
    cut.fwd = 9090;
    const std::string frame = Framed(cut.Text());
    r.RawReply(frame.substr(0, 19));
    r.Run();
    r.now += kLinReplyTimeoutMs + 1;
    r.Run();
    EXPECT_EQ(r.Sent(), "4dST;") << "re-sent after the time-out";
    EXPECT_EQ(r.w()->retryTotal.load(), 1);
    r.RawReply(frame);
    r.Run();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("CHK ERROR"), std::string::npos) << err;
    EXPECT_EQ(r.w()->boardStatus[2].load(), 0);
    EXPECT_EQ(r.w()->errCount.load(), 0) << "no trip, no micro reset, no link error";
    EXPECT_EQ(r.Sent().substr(2), "FM;");
    // A late tail of a failed reply waiting when the next command goes out is
    // dropped, not put in front of the next reply.
    testing::internal::CaptureStderr();
    r.RawReply(frame.substr(0, 10));
    r.Run();
    r.now += kLinReplyTimeoutMs + 1;
    LinearStep(r.w(), &r.link, r.now); // time-out: the re-send is due
    EXPECT_EQ(r.w()->linearProcessStatus.load(), 8);
    r.RawReply(frame.substr(10, 10)); // the tail arrives before the re-send
    r.Run();
    EXPECT_EQ(r.Sent().substr(2), "FM;");
    r.Reply("FM000014074000;");
    r.Run();
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("CHK ERROR"), std::string::npos) << err;
    EXPECT_EQ(r.w()->freqMeasured.load(), 14074000);
}

TEST(LinearStep, GarbageAndStrayBytes) {
    Rig r;
    testing::internal::CaptureStderr();
    r.Run();
    r.Sent();
    // A lone ';' is no reply: the link keeps waiting for the real one.
    r.RawReply(";");
    r.Run();
    EXPECT_EQ(r.w()->linearProcessStatus.load(), kLinWait);
    EXPECT_EQ(r.Sent(), "");
    r.Reply(kIdle);
    r.Run();
    EXPECT_EQ(r.Sent().substr(2), "FM;");
    // 600 bytes of noise without ';' wrap the buffer and do not crash.
    r.RawReply(std::string(600, '\x7f'));
    r.Run(5000);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("<<<<<<<<<<<<<<<<<<<<ERROR COUNTER LINEAR (CounterLinear)\n"),
              std::string::npos);
    // The remains of the noise spoil the next reply: one more retry, then on.
    testing::internal::CaptureStderr();
    r.Reply("FM000014074000;");
    r.Run();
    EXPECT_EQ(r.w()->linearProcessStatus.load(), kLinWait);
    r.Sent();
    r.Reply("FM000014074000;");
    r.Run();
    EXPECT_EQ(r.Sent(), "4dST;");
    testing::internal::GetCapturedStderr();
}

TEST(LinearStep, ParkedAfterFirmwareUpdate) {
    Rig r;
    testing::internal::CaptureStderr();
    r.w()->linearProcessStatus = 30;
    r.Run(1);
    EXPECT_EQ(r.Sent().substr(2), "MR1;");
    EXPECT_EQ(r.w()->linearProcessStatus.load(), kLinParked);
    EXPECT_TRUE(r.w()->linkFlags.load() & 4);
    r.Reply("MR1;");
    EXPECT_EQ(LinearStep(r.w(), &r.link, r.now), 1000);
    EXPECT_EQ(r.w()->linearProcessStatus.load(), kLinParked);
    EXPECT_EQ(r.Sent(), "");
    testing::internal::GetCapturedStderr();
}

// A unit with a one-band table whose coefficients make readings easy watts.
struct BandUnit : TestUnit {
    BandConfig rows[2]{};
    BandUnit() {
        works.errSuspend = 0;
        rows[0].fStart = 1000000;
        rows[0].K0 = 1e-4f; // 1000 -> 100 W
        rows[0].K1 = 1e-4f;
        rows[0].K2 = 1e-4f;
        rows[0].K3 = 0.0f;
        rows[1].fStart = 30000000;
        works.bandTab = rows;
        works.bandTabCount = 2;
        works.freq = 14070000;
        works.fanPercent = 100; // no fan table: full speed, already sent
        works.linearProcessStatus = kLinDecode;
    }
    ~BandUnit() { works.bandTab = nullptr; }
};

// The thermistor reading of 60 degrees: 2.521 kOhm on the 10 kOhm divider.
int ReadingFor60C() {
    return static_cast<int>(std::lround(4095.0 * 2.521 / 12.521));
}

TEST(LinearDecode, SwrEdges) {
    EXPECT_EQ(CalcSwr(0.2f, 0.6f), 100.0f);
    EXPECT_EQ(CalcSwr(0.2f, 0.4f), 0.0f);
    EXPECT_EQ(CalcSwr(10.0f, 11.0f), 100.0f);
    EXPECT_EQ(CalcSwr(10.0f, 0.0f), 1.0f);
    EXPECT_EQ(CalcSwr(10.0f, 10.0f), 100.0f);
    EXPECT_NEAR(CalcSwr(100.0f, 100.0f / 9.0f), 2.0f, 1e-4);
    EXPECT_EQ(CalcSwr(100.0f, 99.99f), 100.0f) << "capped at 100";
}

TEST(LinearDecode, StatusPowersAndMeasurements) {
    BandUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    Status s;
    s.in = 100;   // 1 W
    s.fwd = 2000; // 400 W
    s.refl = 500; // 25 W
    s.aux = 1234;
    EXPECT_EQ(Decode(w, s.Text()), 10);
    EXPECT_FLOAT_EQ(w->pwrIn.load(), 1.0f);
    EXPECT_FLOAT_EQ(w->pwrFwd.load(), 400.0f);
    EXPECT_FLOAT_EQ(w->pwrRefl.load(), 25.0f);
    EXPECT_NEAR(w->swr.load(), 5.0f / 3.0f, 1e-4);
    EXPECT_EQ(w->rawAux.load(), 1234.0f);
    EXPECT_EQ(w->rawPwr[1].load(), 2000);
    EXPECT_NEAR(w->temp1.load(), 24.99f, 0.01f);
    // Temperatures are smoothed 9:1 after the first reading.
    s.t1 = ReadingFor60C();
    Decode(w, s.Text());
    EXPECT_NEAR(w->temp1.load(), (9 * 24.99f + CalcolaTemp(s.t1)) / 10, 0.01f);
    // A K3 correction that makes the reflected power negative gives 0 and SWR 1.
    u.rows[0].K3 = -0.5f;
    Decode(w, s.Text());
    EXPECT_EQ(w->pwrRefl.load(), 0.0f);
    EXPECT_EQ(w->swr.load(), 1.0f);
    // Outside every band the coefficients are 1.
    w->freq = 50000000;
    s.fwd = 3;
    Decode(w, s.Text());
    EXPECT_FLOAT_EQ(w->pwrFwd.load(), 9.0f);
    // Empty band table: the built-in coefficients.
    w->bandTabCount = 0;
    EXPECT_FLOAT_EQ(SearchK(w, 0), 5.156579e-6f);
    EXPECT_FLOAT_EQ(SearchK(w, 3), -0.007f);
    // Auxiliary forward reading, capped by the power class.
    w->bandTabCount = 2;
    w->freq = 14070000;
    w->auxFwdEnable = 1;
    s.auxFwd = 1000;
    Decode(w, s.Text());
    EXPECT_FLOAT_EQ(w->pwrFwdAux.load(), 70.0f);
    w->powerClass = '1';
    s.auxFwd = 1100;
    Decode(w, s.Text());
    EXPECT_NEAR(w->pwrFwdAux.load(), 121.0f, 1e-3);
    testing::internal::GetCapturedStderr();
}

TEST(LinearDecode, StatusBitsTripsAndErrors) {
    BandUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    Status s;
    s.s2 = 0x03;
    Decode(w, s.Text());
    EXPECT_STREQ(w->tripLabel, "REFL");
    EXPECT_EQ(ExistError(w, 15), 1);
    s.s2 = 0x18;
    Decode(w, s.Text());
    EXPECT_STREQ(w->tripLabel, "FILTER TX");
    s.s2 = 0x00;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 15), 0);
    std::snprintf(w->tripLabel, sizeof w->tripLabel, "keep");
    s.s2 = 0x41;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 19), 1);
    EXPECT_EQ(ExistError(w, 15), 0);
    EXPECT_STREQ(w->tripLabel, "keep");
    // Low nibble first on the wire: "1" then "8" is 0x81.
    std::string t = Status{}.Text();
    t[28] = '1';
    t[29] = '8';
    Decode(w, t);
    EXPECT_EQ(w->boardStatus[2].load(), 0x81);
    EXPECT_EQ(ExistError(w, 16), 0) << "micro not yet acknowledged";
    w->microReady = 1;
    Decode(w, t);
    EXPECT_EQ(ExistError(w, 16), 1);
    // High-SWR trip in S1.
    s = Status{};
    s.s1 = 2;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 1), 1);
    w->errFlags = 1;
    s.s1 = 4;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 1), 0);
    EXPECT_EQ(w->errFlags.load() & 3, 1) << "bit 1 was clear: flags kept";
    w->errFlags = 2;
    s.s1 = 0;
    Decode(w, s.Text());
    EXPECT_EQ(w->errFlags.load() & 3, 0);
    // Input-power condition only on input 1, no tune.
    s.s2 = 0x20;
    w->antInput = 0;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 3), 0);
    w->antInput = 1;
    Decode(w, s.Text());
    EXPECT_EQ(ExistError(w, 3), 1);
    testing::internal::GetCapturedStderr();
}

TEST(LinearDecode, BypassFollowUpAndBoardAsTruth) {
    BandUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    Status s;
    w->bypass = 1;
    w->bypassReq = 1;
    Decode(w, s.Text()); // board not bypassed, but stand-by was asked: kept
    EXPECT_EQ(w->bypass.load(), 1);
    w->bypassReq = 0;
    Decode(w, s.Text());
    EXPECT_EQ(w->bypass.load(), 0);
    // While error 4 stands the board's pads and bypass are the truth.
    AddErrore(w, 4);
    w->attenuator = 0;
    s.s0 = 0x08; // 3 dB pad only
    s.s1 = 0x08;
    Decode(w, s.Text());
    EXPECT_EQ(w->attenuator.load(), 2);
    EXPECT_EQ(w->attenuatorShown.load(), 2);
    EXPECT_EQ(w->bypass.load(), 1);
    s.s0 = 0x0C;
    Decode(w, s.Text());
    EXPECT_EQ(w->attenuator.load(), 3);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("STATE DA ERRORE : attenuatore 3dB=on 2dB=off\n"), std::string::npos);
    EXPECT_NE(err.find("STATE DA ERRORE : attenuatore 3dB=on 2dB=on\n"), std::string::npos);
}

TEST(LinearDecode, NextStateAfterStatus) {
    BandUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    std::string st = Status{}.Text();
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 8) << "nothing queued: frequency request";
    IncPNTIn_CMDLinear(22, w);
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 22) << "queued code taken without the drain flag";
    EXPECT_TRUE(CmdQueueEmpty(w));
    w->tuneState = 2;
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 13);
    EXPECT_EQ(w->tuneState.load(), 1);
    w->tuneState = 3;
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 1);
    w->tuneState = 1;
    Decode(w, st);
    EXPECT_EQ(w->linearProcessStatus.load(), 11);
    // Error follow-up requested by the error handler runs on the next status.
    w->tuneState = 0;
    w->errResend = 2;
    Decode(w, st);
    EXPECT_EQ(w->errResend.load(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(">>> ERRORI: End Gest Errori!!\n"), std::string::npos);
}

TEST(LinearDecode, OtherReplies) {
    BandUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Decode(w, "VSM2.05.03;"), 20);
    EXPECT_STREQ(w->boardVersion, "2.05.03");
    EXPECT_EQ(w->linearProcessStatus.load(), 1);
    Decode(w, "SA3;");
    EXPECT_EQ(w->antenna.load(), 2);
    Decode(w, "SAx;");
    EXPECT_EQ(w->antenna.load(), 2) << "not an antenna digit: ignored";
    w->freqMeasured = 7000000;
    Decode(w, "FM000000000000;");
    EXPECT_EQ(w->freqMeasured.load(), 7000000);
    Decode(w, "FM000014074000;");
    EXPECT_EQ(w->freqMeasured.load(), 14074000);
    w->errSuspend = 3;
    Decode(w, "CPFFFF;");
    EXPECT_EQ(w->errSuspend.load(), 2);
    Decode(w, "AB0;");
    EXPECT_EQ(w->bypass.load(), 0);
    Decode(w, "AB1;");
    EXPECT_EQ(w->bypass.load(), 1);
    w->txTest = 0x10;
    Decode(w, "AN1;");
    EXPECT_EQ(w->antInput.load(), 1);
    EXPECT_EQ(w->txTest.load(), 0x30);
    Decode(w, "MR1;");
    EXPECT_EQ(w->microReady.load(), 0);
    Decode(w, "MR0;");
    EXPECT_EQ(w->microReady.load(), 1);
    Decode(w, "GS0123456789;");
    EXPECT_STREQ(w->genSettings, "0123456789");
    Decode(w, "GS012;");
    EXPECT_STREQ(w->genSettings, "012");
    std::string page2 = "ER0002" + std::string("0231") + std::string(60, '0') + ";";
    Decode(w, page2);
    EXPECT_EQ(w->boardOpt.load(), 2);
    EXPECT_EQ(w->powerClass.load(), '1');
    EXPECT_EQ(number_ofStep_meter_FWD, 120);
    std::string page0 = "ER0000" + std::string("4142") + std::string(60, '0') + ";";
    Decode(w, page0);
    EXPECT_EQ(w->eePage0[0], 'A');
    EXPECT_EQ(w->eePage0[1], 'B');
    number_ofStep_meter_FWD = 60;
    for (const char *ack :
         {"FA00014074000;", "MT100000000;", "FS00001;", "AT11;", "MP1;", "TS4095409515003700;",
          "FN1050;", "PS0001100000000000;", "SF3000001;", "GM00020100;", "SE1;"}) {
        w->retryCount = 2;
        EXPECT_EQ(Decode(w, ack), 20) << ack;
        EXPECT_EQ(w->retryCount.load(), 0) << ack;
        EXPECT_EQ(w->linearProcessStatus.load(), 1) << ack;
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERRORE!! Impostazioni Generali\n"), std::string::npos);
    EXPECT_NE(err.find("Impostazioni Generali : 012 (GS012;)\n"), std::string::npos);
    EXPECT_NE(err.find("RESET MICRO ----------------------------------  1\n"), std::string::npos);
    EXPECT_NE(err.find("EE2: 2 31\n"), std::string::npos);
}

TEST(LinearDecode, RefusedUnknownAndMalformedReplies) {
    BandUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    LastCmdSent(w, 'S', 'T', 1);
    for (const char *bad :
         {"ST?;", "AB!;", "XY&;", "ZZ12;", "ST0;", "STZZ00000000000000000000000000;",
          "ST0012x4000000000000000000000000;"}) {
        int before = w->retryTotal.load();
        EXPECT_EQ(Decode(w, bad), 20) << bad;
        EXPECT_EQ(w->retryTotal.load(), before + 1) << bad;
        w->retryCount = 0;
    }
    EXPECT_EQ(w->linearProcessStatus.load(), 1);
    EXPECT_EQ(Decode(w, "S;"), -1) << "too short to be a reply";
    EXPECT_EQ(w->boardStatus[2].load(), 0) << "malformed status raised no trip";
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("---------------------------------------CMD Errato:ST?;\n"),
              std::string::npos);
    EXPECT_NE(err.find("---------------------------------------cmd non riconosciuto:ZZ12;\n"),
              std::string::npos);
}

TEST(Temperature, ThermistorConversion) {
    EXPECT_NEAR(CalcolaTemp(2048), 24.99f, 0.01f);
    EXPECT_EQ(CalcolaTemp(4095), -10.0f) << "open divider";
    EXPECT_EQ(CalcolaTemp(4000), -10.0f) << "colder than the table";
    EXPECT_EQ(CalcolaTemp(0), 80.0f);
    EXPECT_EQ(CalcolaTemp(300), 80.0f) << "clamped at 80";
    EXPECT_NEAR(CalcolaTemp(ReadingFor60C()), 60.0f, 0.1f);
}

TEST(Temperature, FanHysteresisAndEmptyTable) {
    TestUnit u;
    Works *w = u.w();
    FanRow rows[3] = {{30.0f, 0}, {40.0f, 50}, {50.0f, 100}};
    w->fanTab = rows;
    w->fanTabCount = 3;
    w->fanHyst = 1;
    testing::internal::CaptureStderr();
    // Very first step always sends: the speed starts unknown.
    w->temp1 = 20.0f;
    searchPercentVentola(w);
    EXPECT_EQ(Queued(w), std::vector<int>{23});
    EXPECT_EQ(w->fanPercent.load(), 0);
    w->temp1 = 45.0f;
    searchPercentVentola(w);
    EXPECT_EQ(Queued(w), std::vector<int>{23});
    EXPECT_EQ(w->fanPercent.load(), 50);
    searchPercentVentola(w);
    EXPECT_TRUE(Queued(w).empty()) << "no change, no command";
    w->temp1 = 39.5f;
    searchPercentVentola(w);
    EXPECT_TRUE(Queued(w).empty());
    EXPECT_EQ(w->fanPercent.load(), 50);
    w->temp1 = 30.0f;
    w->temp2 = 38.9f; // the hotter sensor counts
    searchPercentVentola(w);
    EXPECT_EQ(Queued(w), std::vector<int>{23});
    EXPECT_EQ(w->fanPercent.load(), 0);
    w->temp2 = 60.0f;
    searchPercentVentola(w);
    EXPECT_EQ(w->fanTarget.load(), 100);
    EXPECT_FLOAT_EQ(SearchTemperatureFromVentola(w, 50), 40.0f);
    EXPECT_FLOAT_EQ(SearchTemperatureFromVentola(w, 33), 0.0f);
    // No fan table: full speed, once.
    w->fanTab = nullptr;
    w->fanTabCount = 0;
    w->fanPercent = -1;
    Queued(w);
    searchPercentVentola(w);
    searchPercentVentola(w);
    EXPECT_EQ(Queued(w), std::vector<int>{23});
    EXPECT_EQ(w->fanPercent.load(), 100);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("--->1 VENTOLA: 50 (45.00°C)\n"), std::string::npos);
}

TEST(Temperature, AlarmWarningAndEnd) {
    TestUnit u;
    Works *w = u.w();
    w->errSuspend = 0;
    w->tempHyst = 1;
    testing::internal::CaptureStderr();
    GestTemperatureFunction(w, 2, 0, 23, 59.5f, 60.0f);
    EXPECT_EQ(ExistError(w, 23), 1);
    EXPECT_TRUE(Queued(w).empty());
    GestTemperatureFunction(w, 2, 0, 23, 60.5f, 60.0f);
    EXPECT_EQ(ExistError(w, 2), 1);
    EXPECT_EQ(ExistError(w, 23), 0);
    EXPECT_EQ(Queued(w), (std::vector<int>{18, 16, 19}));
    GestTemperatureFunction(w, 2, 0, 23, 60.5f, 60.0f);
    EXPECT_TRUE(Queued(w).empty()) << "an alarm is raised once";
    GestTemperatureFunction(w, 2, 0, 23, 59.5f, 60.0f);
    EXPECT_EQ(ExistError(w, 2), 1);
    EXPECT_EQ(ExistError(w, 23), 0);
    EXPECT_TRUE(Queued(w).empty());
    GestTemperatureFunction(w, 2, 0, 23, 58.9f, 60.0f);
    EXPECT_EQ(ExistError(w, 2), 0);
    EXPECT_EQ(ExistError(w, 0), 1);
    EXPECT_EQ(Queued(w), std::vector<int>{20});
    // Errors suspended (power-on, before the board's first "CP"): the alarm's
    // actions are taken once, not on every status reply; "AB0;" waits.
    w->errSuspend = 1;
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    EXPECT_EQ(Queued(w), (std::vector<int>{18, 16}));
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    GestTemperatureFunction(w, 22, 21, 24, 79.5f, 80.0f);
    EXPECT_TRUE(Queued(w).empty());
    EXPECT_EQ(ExistError(w, 24), 0) << "an alarm does not become a warning";
    // Errors recorded again: the alarm is listed and "AB0;" goes out, once.
    w->errSuspend = 0;
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    EXPECT_EQ(ExistError(w, 22), 1);
    EXPECT_EQ(Queued(w), std::vector<int>{19});
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    EXPECT_TRUE(Queued(w).empty());
    // The operator's reset empties the list while it is still hot: a new alarm.
    VerifyWarningTemporaneiDopoResetBias(w);
    GestTemperatureFunction(w, 22, 21, 24, 81.0f, 80.0f);
    EXPECT_EQ(ExistError(w, 22), 1);
    EXPECT_EQ(Queued(w), (std::vector<int>{18, 16, 19}));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("!!!!  TEMP ALLARM: 60.50 (2)\n"), std::string::npos);
    EXPECT_NE(err.find("!!!! END TEMPERATURE ERROR (2)\n"), std::string::npos);
    EXPECT_NE(err.find("!!!! WARNING: Quasi in Temperatura!! (23)\n"), std::string::npos);
}

// The board model shows the intended watts through the band coefficients.
TEST(SimBoard, StatusReadingsDecodeToTheModelsWatts) {
    TestUnit u;
    Works *w = u.w();
    w->fanPercent = 100;
    // One band around 20 m whose forward and reflected detectors read 1000 at 100 W.
    BandConfig rows[2]{};
    rows[0] = {10000000, 0, 1e-4f, 1e-4f, 4e-4f, 0.0f, 0, 0, 0, 0, {}, {}, 0};
    rows[1].fStart = 20000000;
    w->bandTab = rows;
    w->bandTabCount = 2;
    SimBoardState st;
    st.haveBands = true;
    st.bandStart = {10000000, 20000000};
    st.bandK[0] = {1e-4f, 1.0f};
    st.bandK[1] = {1e-4f, 1.0f};
    st.bandK[2] = {4e-4f, 1.0f};
    st.bandK[3] = {0.0f, 1.0f};
    st.ts[1] = st.ts[2] = st.ts[0] = st.ts[3] = 4095;
    st.bypass = false;
    st.driveW = 25.0f;
    st.gain = 20.0f;
    st.loadSwr = 1.5f;
    st.temp1 = 41.3f;
    st.temp2 = 39.9f;
    uint64_t last = 0;
    std::string reply = SimBoardAnswer(st, "ST;", 1000, &last);
    ASSERT_EQ(reply.size(), 37u) << reply;
    testing::internal::CaptureStderr();
    Decode(w, reply);
    testing::internal::GetCapturedStderr();
    EXPECT_NEAR(w->pwrIn.load(), 25.0f, 0.1f);
    EXPECT_NEAR(w->pwrFwd.load(), 500.0f, 1.0f);
    EXPECT_NEAR(w->swr.load(), 1.5f, 0.02f);
    EXPECT_NEAR(w->temp1.load(), 41.3f, 0.1f);
    EXPECT_NEAR(w->temp2.load(), 39.9f, 0.1f);
    EXPECT_EQ(w->boardStatus[1].load() & 1, 1) << "transmitting";
    // Thermal model: dissipation heats, the fan cools.
    st.thermalTau = 10.0f;
    SimBoardAnswer(st, "ST;", 61000, &last);
    float hot = st.temp1;
    EXPECT_GT(hot, 41.3f);
    SimBoardAnswer(st, "FN1100;", 61000, &last);
    st.driveW = 0.0f;
    SimBoardAnswer(st, "ST;", 121000, &last);
    EXPECT_LT(st.temp1, hot);
    // Every command gets its echo or answer; wrong formats a refusal.
    EXPECT_EQ(SimBoardAnswer(st, "VSM;", 0, &last), "VSM2.05.03;");
    EXPECT_EQ(SimBoardAnswer(st, "SA3;", 0, &last), "SA3;");
    EXPECT_EQ(st.antenna, 3);
    EXPECT_EQ(SimBoardAnswer(st, "AT10;", 0, &last), "AT10;");
    EXPECT_TRUE(st.pad3 && !st.pad2);
    EXPECT_EQ(SimBoardAnswer(st, "ER0002;", 0, &last).size(), 6u + 64u + 1u);
    EXPECT_EQ(SimBoardAnswer(st, "SA12;", 0, &last), "SA?;");
    EXPECT_EQ(SimBoardAnswer(st, "QQ;", 0, &last), "QQ?;");
    EXPECT_FALSE(SimBoardKnownCommand("MT1abcdef00;")) << "tuner word in upper case";
    EXPECT_FALSE(SimBoardKnownCommand("SF300002A;")) << "filter mask in lower case";
    EXPECT_FALSE(SimBoardKnownCommand("ER0003;"));
    EXPECT_TRUE(SimBoardKnownCommand("GS01;3456789;") == false);
    EXPECT_TRUE(SimBoardKnownCommand("FN1075;"));
    EXPECT_EQ(SimBoardFrame("ST;", true), "4dST;");
    EXPECT_EQ(SimBoardFrame("ST;", false), "4DST;");
    w->bandTab = nullptr;
}

// The board's control input: readings set by hand reach the status reply,
// "FA" comes back as the measured frequency, a hot start forgets the settings.
TEST(SimBoard, ControlInputReadingsAndHotStart) {
    SimBoard b;
    for (const char *line : {"fwd 50", "refl 2", "temp1 55.5", "temp2 41", "tau 0", "aux 2048",
                             "drive 20", "cut ST", "refuse & 2", "s2 20", ""})
        EXPECT_EQ(SimBoardControl(&b, line).rfind("ok", 0), 0u) << line;
    for (const char *line : {"bogus 1", "drive x", "swr 0.5", "fwd"})
        EXPECT_EQ(SimBoardControl(&b, line).rfind("error", 0), 0u) << line;
    EXPECT_EQ(b.faults.cut, 1);
    EXPECT_EQ(b.faults.cutOn, "ST");
    EXPECT_EQ(b.faults.refuse, 2);
    EXPECT_EQ(b.faults.refuseChar, '&');
    SimBoardState &st = b.st;
    uint64_t last = 0;
    EXPECT_EQ(SimBoardAnswer(st, "FA00007074000;", 0, &last), "FA00007074000;");
    EXPECT_EQ(SimBoardAnswer(st, "FM;", 0, &last), "FM000007074000;");
    std::string reply = SimBoardAnswer(st, "ST;", 1000, &last);
    TestUnit u;
    Works *w = u.w();
    w->fanPercent = 100;
    w->errSuspend = 0;
    testing::internal::CaptureStderr();
    Decode(w, reply);
    testing::internal::GetCapturedStderr();
    EXPECT_NEAR(w->pwrFwd.load(), 50.0f, 0.1f) << reply;
    // The reflected detector reads refl - K3 * fwd, which the decoder adds back.
    EXPECT_NEAR(w->pwrRefl.load(), 2.0f, 0.02f) << reply;
    EXPECT_NEAR(w->pwrIn.load(), 20.0f, 0.2f) << reply;
    EXPECT_EQ(w->rawAux.load(), 2048.0f);
    EXPECT_NEAR(w->temp1.load(), 55.5f, 0.1f);
    EXPECT_NEAR(w->temp2.load(), 41.0f, 0.1f);
    EXPECT_EQ(w->boardStatus[1].load() & 1, 1) << "transmitting";
    EXPECT_EQ(w->boardStatus[2].load() & 0x20, 0x20) << "forced S2 bits";
    EXPECT_EQ(SimBoardControl(&b, "fwd model").rfind("ok", 0), 0u);
    EXPECT_LT(st.fwdW, 0.0f);
    // A micro reset: settings back to power-on, S2 bit 7 until "MR0;".
    SimBoardAnswer(st, "SF3000004;", 0, &last);
    SimBoardAnswer(st, "TS1000200030004000;", 0, &last);
    SimBoardAnswer(st, "FN1075;", 0, &last);
    SimBoardAnswer(st, "MP1;", 0, &last);
    SimBoardAnswer(st, "AB0;", 0, &last);
    SimBoardAnswer(st, "MR0;", 0, &last);
    SimBoardHotStart(st);
    EXPECT_EQ(st.filterMask, 0);
    EXPECT_EQ(st.ts[0], 4095);
    EXPECT_EQ(st.fanPercent, 0);
    EXPECT_FALSE(st.protection);
    EXPECT_TRUE(st.bypass);
    EXPECT_EQ(st.freq, 7074000u) << "the measured frequency stays";
    EXPECT_EQ(st.hotStarts, 1);
    reply = SimBoardAnswer(st, "ST;", 2000, &last);
    EXPECT_EQ(reply[29], 'A') << reply << ": S2 = 0xA0, micro reset and the forced bit";
}

// The simulated board's 60 W amplifier: linear at a tune's drive, saturating,
// tripping its input when overdriven, drawing its current at the rail's volts.
TEST(SimBoard, RatedAmplifierSaturatesTripsWhenOverdrivenAndDrawsFromItsRail) {
    SimBoardState st;
    SimBoardRated(st, '0');
    st.bypass = false;
    st.driveW = 0.5f;
    EXPECT_NEAR(SimBoardForward(st), 5.0f, 0.01f);
    st.driveW = 9.0f;
    EXPECT_GT(SimBoardForward(st), 55.0f);
    EXPECT_LT(SimAmplifierOut(1000.0f, 10.0f, st.satW), 66.0f);
    st.supplyV = 27.2f;
    EXPECT_NEAR(SimBoardCurrent(st, 44.0f), 1.0f + 44.0f / 0.55f / 27.2f, 0.01f);
    uint64_t last = 0;
    EXPECT_EQ(SimBoardAnswer(st, "ST;", 1000, &last)[28], '0') << "9 W: no trip";
    st.driveW = 20.0f;
    std::string reply = SimBoardAnswer(st, "ST;", 1000, &last);
    EXPECT_EQ(reply[28], '8') << reply << ": S2 bit 3, the input sensor";
    EXPECT_EQ(SimBoardForward(st), 0.0f) << "no output after the trip";
}

// The link thread against the simulated board over a pseudo-terminal.
struct LinkRig {
    ScopedSimRoot root;
    TestUnit u;
    SimBoard board;
    pthread_t thread{};
    bool started = false;

    LinkRig() {
        testing::internal::CaptureStderr();
        EXPECT_EQ(SimBoardStart(&board, root.root), 0);
        u.w()->errSuspend = 0;
        u.w()->fanPercent = 100; // no fan table: full speed, already sent
    }
    ~LinkRig() {
        Stop();
        SimBoardStop(&board);
        testing::internal::GetCapturedStderr();
    }
    Works *w() { return u.w(); }
    void Start() {
        ASSERT_EQ(pthread_create(&thread, nullptr, Linear, w()), 0);
        started = true;
    }
    // Stops the thread; returns how long it took to end (ms).
    uint64_t Stop() {
        if (!started) return 0;
        uint64_t t0 = NowMs();
        w()->running = 0;
        pthread_join(thread, nullptr);
        started = false;
        return NowMs() - t0;
    }
    std::vector<SimFrame> Frames() { return SimBoardFrames(&board); }
    // Waits until `pred(frames)` holds.
    bool WaitFor(const std::function<bool(const std::vector<SimFrame> &)> &pred) {
        return WaitUntil([&] { return pred(Frames()); }, kPatienceMs);
    }
    bool WaitCount(size_t n) {
        return WaitFor([n](const std::vector<SimFrame> &f) { return f.size() >= n; });
    }
    bool WaitError(int code, int present) {
        return WaitUntil([&] { return ExistError(w(), code) == present; }, kPatienceMs);
    }
};

size_t CountText(const std::vector<SimFrame> &f, const std::string &text) {
    size_t n = 0;
    for (const auto &fr : f)
        if (fr.text == text) n++;
    return n;
}

size_t IndexOf(const std::vector<SimFrame> &f, const std::string &text) {
    for (size_t i = 0; i < f.size(); i++)
        if (f[i].text == text) return i;
    return f.size();
}

// Fills the ring to its 29 places with tuner-word codes (each differs from the
// one before it, so none is a repeat).
void FillRing(Works *w) {
    for (int i = 0; CmdQueuePending(w) < 29; i++)
        ASSERT_EQ(IncPNTIn_CMDLinear(i % 2 == 0 ? 39 : 40, w), 0);
}

// A band table, filter table and fan table for the settings tests: 40 m has
// its own thresholds, filter 3 covers it, the fan runs at 50 % at 45 degrees.
struct BandSettings {
    BandConfig bands[3]{};
    FanRow fan[3] = {{30.0f, 0}, {40.0f, 50}, {50.0f, 100}};
    Works *w;
    explicit BandSettings(Works *works) : w(works) {
        bands[0] = {1800000, 0, 5e-6f, 3e-6f, 5e-6f, 0.0f, 20.0f, 10.0f, 50.0f, 500.0f, {}, {}, 0};
        bands[1] = {7000000, 0, 5e-6f, 3e-6f, 5e-6f, 0.0f, 25.0f, 12.0f, 30.0f, 60.0f, {}, {}, 0};
        bands[2].fStart = 7300000;
        w->bandTab = bands;
        w->bandTabCount = 3;
        w->filterTab[0] = {1800000, 2000000, 1};
        w->filterTab[2] = {6900000, 7300000, 1};
        w->fanTab = fan;
        w->fanTabCount = 3;
        w->freq = 7050000;
    }
    ~BandSettings() {
        w->bandTab = nullptr;
        w->fanTab = nullptr;
    }
    // sqrt(25 / 5e-6), sqrt(60 / 5e-6), sqrt(30 / 3e-6), 12 * 4096 / 14.05
    static constexpr const char *kTs = "TS2236346431623498;";
};

// The start-up commands in order, one after each status poll.
const std::string kStartUp = "VSM; ER0000; ER0001; ER0002; MP0; TS4095409515003700; AN0; SA1; "
                             "FS00001; MT100000000; PS0001100000000000; GM00020100; GS; CPFFFF; "
                             "MR0;";
constexpr size_t kStartUpCount = 15;

TEST(LinearLink, StartUpCommandsOnePerStatusPoll) {
    LinkRig r;
    SimBoardSet(&r.board, [](SimBoardState &st) { st.ee[2][1] = '1'; });
    InitMicroCmd(r.w());
    r.Start();
    ASSERT_TRUE(r.WaitCount(2 * kStartUpCount + 5));
    auto f = r.Frames();
    std::string commands;
    size_t polls = 0;
    for (size_t i = 0; i < kStartUpCount; i++) {
        polls += f[2 * i].text == "ST;";
        commands += (i ? " " : "") + f[2 * i + 1].text;
    }
    EXPECT_EQ(polls, kStartUpCount);
    EXPECT_EQ(commands, kStartUp);
    for (size_t i = 0; i < f.size(); i++) {
        EXPECT_TRUE(f[i].crcOk) << f[i].text;
        EXPECT_TRUE(f[i].known) << f[i].text;
    }
    // Pacing: 10 ms after a status reply, 20 ms after any other.
    for (size_t i = 1; i < f.size(); i++) {
        uint64_t gap = f[i].ms - f[i - 1].ms;
        EXPECT_GE(gap, f[i - 1].text == "ST;" ? 10u : 20u) << f[i - 1].text << " -> " << f[i].text;
    }
    // The link looks at `running` on every 1 ms poll.
    EXPECT_LT(r.Stop(), kPromptMs);
    EXPECT_STREQ(r.w()->boardVersion, "2.05.03");
    EXPECT_EQ(r.w()->microReady.load(), 1);
    EXPECT_EQ(r.w()->errSuspend.load() & 1, 0);
    EXPECT_EQ(r.w()->powerClass.load(), '1');
}

TEST(LinearLink, TripInS2ShowsErrorFifteen) {
    LinkRig r;
    SimBoardSet(&r.board, [](SimBoardState &st) {
        st.bypass = false;
        st.loadSwr = 1.0f;
    });
    r.w()->tsThreshold[1] = 2000; // forward limit far below 500 W
    IncPNTIn_CMDLinear(22, r.w());
    r.Start();
    ASSERT_TRUE(r.WaitFor([](const std::vector<SimFrame> &f) {
        return f.size() >= 2 && f[1].text == "TS4095200015003700;";
    }));
    EXPECT_EQ(ExistError(r.w(), 15), 0);
    SimBoardSet(&r.board, [](SimBoardState &st) { st.driveW = 50.0f; }); // 500 W out
    ASSERT_TRUE(r.WaitError(15, 1));
    EXPECT_TRUE(r.w()->boardStatus[2].load() & 0x04);
    // Protection reset clears the trip on the board and the error here.
    IncPNTIn_CMDLinear(13, r.w());
    SimBoardSet(&r.board, [](SimBoardState &st) { st.driveW = 0.0f; });
    ASSERT_TRUE(r.WaitError(15, 0));
    r.Stop();
    EXPECT_STREQ(r.w()->tripLabel, "FWD");
}

TEST(LinearLink, PowerOnAt70DegreesWithAFullRing) {
    LinkRig r;
    Works *w = r.w();
    w->errSuspend = 1; // power-on: no error recorded until the board's "CP"
    SimBoardSet(&r.board, [](SimBoardState &st) {
        st.temp1 = 70.0f;
        st.temp2 = 40.0f;
    });
    InitMicroCmd(w);
    FillRing(w);
    r.Start();
    ASSERT_TRUE(r.WaitFor([](const std::vector<SimFrame> &f) {
        size_t mr = IndexOf(f, "MR0;");
        return mr < f.size() && CountText(f, "AB0;") > 0 && f.size() > mr + 12;
    }));
    r.Stop();
    auto f = r.Frames();
    // The alarm's codes reach the wire once each, protection first; the
    // start-up "MP0;" that would have switched it off again is superseded.
    EXPECT_EQ(CountText(f, "MP1;"), 1u);
    EXPECT_EQ(CountText(f, "AT11;"), 1u);
    EXPECT_EQ(CountText(f, "AB0;"), 1u);
    EXPECT_EQ(CountText(f, "MP0;"), 0u);
    EXPECT_LT(IndexOf(f, "MP1;"), IndexOf(f, "VSM;"));
    EXPECT_LT(IndexOf(f, "CPFFFF;"), IndexOf(f, "AB0;")) << "stand-by code once errors count";
    // Every code of the ring went out too: 29 - "MP0;" + the alarm's three.
    size_t commands = 0;
    for (const auto &fr : f)
        if (fr.text != "ST;" && fr.text != "FM;") commands++;
    EXPECT_EQ(commands, 29u - 1u + 3u);
    EXPECT_EQ(ExistError(w, 2), 1);
    SimBoardSet(&r.board, [](SimBoardState &st) {
        EXPECT_TRUE(st.protection);
        EXPECT_TRUE(st.pad3 && st.pad2);
    });
}

TEST(LinearLink, FilterAndThresholdsChosenWhileTheRingIsFullReachTheBoard) {
    LinkRig r;
    Works *w = r.w();
    BandSettings bs(w);
    w->fanPercent = 50;
    SimBoardSet(&r.board, [](SimBoardState &st) { st.temp1 = st.temp2 = 45.0f; });
    FillRing(w);
    SetFilterFromfreq(w);
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(w->filterBits.load(), 0x04);
    EXPECT_EQ(w->tuneBand.load(), 1);
    // The same frequency again: nothing more to send.
    SetFilterFromfreq(w);
    SearchCambioSoglie_TS(w);
    EXPECT_EQ(CmdQueuePending(w), 31);
    r.Start();
    ASSERT_TRUE(r.WaitCount(2 * 31 + 5));
    r.Stop();
    auto f = r.Frames();
    EXPECT_EQ(CountText(f, "SF3000004;"), 1u);
    EXPECT_EQ(CountText(f, BandSettings::kTs), 1u);
    SimBoardSet(&r.board, [](SimBoardState &st) {
        EXPECT_EQ(st.filterMask, 0x04);
        EXPECT_EQ(st.ts[0], 2236);
        EXPECT_EQ(st.ts[3], 3498);
    });
}

TEST(LinearLink, ErrorResetAfterAMicroResetSendsTheBandSettingsAgain) {
    LinkRig r;
    Works *w = r.w();
    InitErrTab(w);
    BandSettings bs(w);
    w->fanPercent = -1; // the speed not yet sent
    w->ModeWorkIdx = 1;
    SimBoardSet(&r.board, [](SimBoardState &st) { st.temp1 = st.temp2 = 45.0f; });
    InitMicroCmd(w);
    SetFilterFromfreq(w);
    auto settled = [&](const std::vector<SimFrame> &) {
        bool ok = false;
        SimBoardSet(&r.board, [&](SimBoardState &st) {
            ok = st.filterMask == 0x04 && st.ts[0] == 2236 && st.fanPercent == 50 && !st.microReset;
        });
        return ok && CmdQueueEmpty(w);
    };
    r.Start();
    ASSERT_TRUE(r.WaitFor(settled));
    EXPECT_EQ(w->microReady.load(), 1);
    SimBoardFault(&r.board, [](SimBoardFaults &fl) { fl.hotStart = true; });
    ASSERT_TRUE(r.WaitError(16, 1));
    size_t from = r.Frames().size();
    EXPECT_EQ(GPIO_Errori(w), 1); // key 1 acknowledges the micro reset
    ASSERT_TRUE(r.WaitFor(settled));
    // The warning goes for good once the board has its settings back (a status
    // reply already on its way at the key press may have raised it once more).
    if (ExistError(w, 16)) GPIO_Errori(w);
    ASSERT_TRUE(r.WaitCount(r.Frames().size() + 6));
    EXPECT_EQ(ExistError(w, 16), 0);
    r.Stop();
    std::vector<SimFrame> after = r.Frames();
    after.erase(after.begin(), after.begin() + static_cast<long>(from));
    EXPECT_EQ(CountText(after, BandSettings::kTs), 1u);
    EXPECT_EQ(CountText(after, "SF3000004;"), 1u);
    EXPECT_EQ(CountText(after, "FN1050;"), 1u);
    EXPECT_EQ(CountText(after, "FA00007050000;"), 1u);
    EXPECT_EQ(CountText(after, "MR0;"), 1u);
}

TEST(LinearLink, AlarmRecordSurvivesTheNextTransmission) {
    LinkRig r;
    Works *w = r.w();
    w->tempLogOn = 1;
    SimBoardSet(&r.board, [](SimBoardState &st) {
        st.microReset = false;
        st.temp1 = 70.0f;
    });
    const std::string log = r.root.Path("/opt/set/LOGtemp.txt");
    r.Start();
    ASSERT_TRUE(r.WaitError(2, 1));
    SimBoardSet(&r.board, [](SimBoardState &st) { st.driveW = 10.0f; }); // transmit
    ASSERT_TRUE(WaitUntil([&] { return w->tempLogStarted.load() == 1; }, kPatienceMs));
    r.Stop();
    std::string prev = ReadWholeFile(log + ".1");
    EXPECT_NE(prev.find(" , 0,70.0,"), std::string::npos) << prev;
    EXPECT_NE(prev.find(" -> protezione attiva\n"), std::string::npos) << prev;
    std::string now = ReadWholeFile(log);
    EXPECT_EQ(now.rfind(";TX,Temp1,Temp2,FDD,SWR\n", 0), 0u) << now;
    EXPECT_NE(now.find(" , 1,"), std::string::npos) << now;
}

TEST(LinearLink, KeepsRunningThroughGarbageAndBrokenReplies) {
    LinkRig r;
    r.Start();
    ASSERT_TRUE(r.WaitCount(4));
    SimBoardFault(&r.board,
                  [](SimBoardFaults &fl) { fl.garbage = std::string("\x01\xff zz;;", 7); });
    ASSERT_TRUE(r.WaitCount(10));
    SimBoardFault(&r.board, [](SimBoardFaults &fl) { fl.cut = 1; });
    ASSERT_TRUE(r.WaitCount(16));
    SimBoardFault(&r.board, [](SimBoardFaults &fl) {
        fl.lowerCrc = 2;
        fl.badCrc = 1;
        fl.refuse = 1;
        fl.refuseChar = '&';
    });
    size_t n = r.Frames().size();
    ASSERT_TRUE(r.WaitCount(n + 8));
    r.Stop();
    // Back to the plain alternation at the end.
    auto f = r.Frames();
    EXPECT_NE(f.back().text, f[f.size() - 2].text);
    for (const auto &fr : f)
        EXPECT_TRUE(fr.crcOk) << fr.text;
    // Each broken reply cost a retry, none ran out, and none was read as a
    // status: no phantom trip, nothing in the error list.
    EXPECT_GE(r.w()->retryTotal.load(), 4);
    EXPECT_EQ(r.w()->retryStops.load(), 0);
    EXPECT_EQ(r.w()->errCount.load(), 0);
    EXPECT_EQ(r.w()->boardStatus[2].load(), 0x80) << "the board's own S2 (micro reset bit)";
}

TEST(LinearLink, PortThatCannotOpenIsReportedAndLeftAlone) {
    ScopedSimRoot root;
    TestUnit u;
    SET_SLOT(u.setup.LinPort, "/dev/ttyNONE");
    u.setup.EnableLinear = '1';
    testing::internal::CaptureStderr();
    pthread_t th;
    ASSERT_EQ(pthread_create(&th, nullptr, Linear, u.w()), 0);
    EXPECT_TRUE(WaitUntil([&] { return u.w()->portError.load() == 1; }, kPatienceMs));
    EXPECT_STREQ(u.w()->portErrorText, "Linear: Unable to open device /dev/ttyNONE");
    u.w()->running = 0;
    pthread_join(th, nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Unable to open device /dev/ttyNONE"), std::string::npos);
}

} // namespace
