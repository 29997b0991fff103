// Power-board frame, command texts and the link's choice of the next command.
#include "model/cmd_queue.h"
#include "amplifier/commands.h"
#include "amplifier/linear.h"
#include "platform/clock.h"
#include "model/errors.h"
#include "unit.h"

#include <cstring>
#include <thread>

#include <gtest/gtest.h>
#include <map>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Reads what the link wrote to the other end of a socket pair.
std::string Drain(int fd) {
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

struct LinkPair {
    int fd[2] = {-1, -1};
    LinkPair() { socketpair(AF_UNIX, SOCK_STREAM, 0, fd); }
    ~LinkPair() {
        close(fd[0]);
        close(fd[1]);
    }
};

TEST(LinearFrame, CrcCheckValueAndStatusFrame) {
    EXPECT_EQ(Sys_Crc8Calculation("123456789", 9), 0xA1);
    EXPECT_EQ(Sys_Crc8Calculation("", 0), 0x00);
    TestUnit u;
    LinkPair p;
    EXPECT_EQ(writeLinearPort(p.fd[0], "ST;", 3, u.w()), 0);
    EXPECT_EQ(Drain(p.fd[1]), "4dST;");
    u.w()->counterrortimeout = 77;
    writeLinearPort(p.fd[0], "FM;", 3, u.w());
    std::string f = Drain(p.fd[1]);
    char crc[3];
    std::snprintf(crc, sizeof crc, "%02x", Sys_Crc8Calculation("FM;", 3));
    EXPECT_EQ(f, std::string(crc) + "FM;");
    EXPECT_EQ(u.w()->counterrortimeout.load(), 0);
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
    TestUnit u;
    Works *w = u.w();
    LinkPair p;
    w->linFD = p.fd[0];
    testing::internal::CaptureStderr();

    w->tunerWord = 0x00850000; // bits 16, 18, 23
    LinearSendCommand(w, 39);
    EXPECT_EQ(Drain(p.fd[1]).substr(2), "MT100010000;");
    EXPECT_EQ(w->tunerThrough.load(), 1);
    EXPECT_EQ(w->linearProcessStatus.load(), kLinWait);
    EXPECT_EQ(w->lastCmdCode.load(), 39);
    EXPECT_EQ(w->tuneSem.load(), 0);

    w->tuneC = 5;
    w->tuneL = 9;
    LinearSendCommand(w, 40);
    EXPECT_EQ(Drain(p.fd[1]).substr(2), "MT100800000;");
    EXPECT_EQ(w->tunerThrough.load(), 0);
    EXPECT_EQ(w->tuneC.load(), 0);
    EXPECT_EQ(w->tuneL.load(), 0);

    w->tunerWord = 0x00010000;
    LinearSendCommand(w, 11);
    Drain(p.fd[1]);
    EXPECT_EQ(w->tunerThrough.load(), 1);

    LinearSendCommand(w, 20);
    EXPECT_EQ(Drain(p.fd[1]).substr(2), "AB1;");
    EXPECT_EQ(w->bypassReq.load(), 1);
    EXPECT_EQ(w->attenuatorShown.load(), 4);
    LinearSendCommand(w, 19);
    Drain(p.fd[1]);
    EXPECT_EQ(w->bypassReq.load(), 0);

    w->attenuatorTune = 3;
    SetAttenuatorCMD(w, w->attenuatorTune.load(), 15);
    EXPECT_EQ(Drain(p.fd[1]).substr(2), "AT11;");
    EXPECT_EQ(std::string(w->lastCmd, 2), "AT");
    EXPECT_EQ(w->lastCmdCode.load(), 15);

    std::snprintf(w->genSettings, sizeof w->genSettings, "0000000000");
    w->ModeWorkIdx = 0;
    LinearSendCommand(w, 35);
    EXPECT_EQ(Drain(p.fd[1]).substr(2), "GS0200000000;");
    w->ModeWorkIdx = 1;
    LinearSendCommand(w, 35);
    EXPECT_EQ(Drain(p.fd[1]).substr(2), "GS0000000000;");

    LinearSendCommand(w, 30);
    EXPECT_EQ(Drain(p.fd[1]).substr(2), "MR1;");
    EXPECT_EQ(w->linearProcessStatus.load(), kLinParked);
    EXPECT_TRUE(w->linkFlags.load() & 4);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(">> AB1;\n"), std::string::npos);
    EXPECT_NE(err.find(">> AT11;\n"), std::string::npos);
}

// Two threads that both find the tuner-word flag free must not both enter.
TEST(LinearCommands, TuneSemIsExclusive) {
    TestUnit u;
    Works *w = u.w();
    LinkPair p;
    w->linFD = p.fd[0];
    w->tuneSem = 1; // held by someone else
    std::atomic<bool> done{false};
    std::thread t([&] {
        LinearSendCommand(w, 39);
        done = true;
    });
    SleepMs(50);
    EXPECT_FALSE(done.load()) << "entered while the flag was held";
    EXPECT_EQ(Drain(p.fd[1]), "");
    w->tuneSem = 0;
    t.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(Drain(p.fd[1]).substr(2), "MT100010000;");
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

TEST(LinearQueue, RetriesThenErrorFour) {
    TestUnit u;
    Works *w = u.w();
    w->errSuspend = 0;
    testing::internal::CaptureStderr();
    LastCmdSent(w, 'S', 'A', 7);
    for (int i = 1; i <= 3; i++) {
        GestRetrayCMD(w);
        EXPECT_EQ(w->linearProcessStatus.load(), 7);
        EXPECT_EQ(w->retryCount.load(), i);
    }
    EXPECT_EQ(ExistError(w, 4), 0);
    GestRetrayCMD(w);
    EXPECT_EQ(w->linearProcessStatus.load(), 1);
    EXPECT_EQ(w->retryCount.load(), 0);
    EXPECT_EQ(w->retryTotal.load(), 4);
    EXPECT_EQ(w->retryStops.load(), 1);
    EXPECT_EQ(ExistError(w, 4), 1);
    EXPECT_STREQ(w->errDetail, "Err SA");
    EXPECT_EQ(w->errHoldOff.load(), 2000);
    // Within the hold-off a second failure is not added again.
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

} // namespace
