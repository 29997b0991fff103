// The link's step function driven pass by pass with a fake clock.
#include "model/cmd_queue.h"
#include "amplifier/linear.h"
#include "platform/clock.h"
#include "model/errors.h"
#include "unit.h"

#include <cstring>
#include <thread>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

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
    std::string Sent() {
        std::string out;
        char buf[256];
        ssize_t n;
        while ((n = recv(fd[1], buf, sizeof buf, MSG_DONTWAIT)) > 0)
            out.append(buf, static_cast<size_t>(n));
        return out;
    }
    void Reply(const std::string &text, bool upper = true) {
        char crc[3];
        std::snprintf(crc, sizeof crc, upper ? "%02X" : "%02x",
                      Sys_Crc8Calculation(text.c_str(), text.size()));
        RawReply(crc + text);
    }
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

const std::string kIdle = "ST00" + std::string(16, '0') + "20482048" + "0000" + "0000;";

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

TEST(LinearStep, SilenceRetriesEveryTimeoutThenErrorFour) {
    Rig r;
    testing::internal::CaptureStderr();
    IncPNTIn_CMDLinear(7, r.w());
    r.Run();
    r.Sent();
    r.Reply(kIdle);
    r.Run();
    EXPECT_EQ(r.Sent().substr(2), "SA1;");
    uint64_t sent = r.now;
    // No reply: 1499 ms of polls change nothing, the 1500th re-sends.
    for (int i = 0; i < 4; i++) {
        while (r.now - sent < 1499) {
            LinearStep(r.w(), &r.link, r.now);
            r.now += 1;
            if (r.now - sent < 1499) {
                ASSERT_EQ(r.Sent(), "") << "early re-send";
            }
        }
        // Every idle poll since the send was counted; the re-send starts afresh.
        EXPECT_GE(r.w()->counterrortimeout.load(), 1498);
        r.now = sent + 1500;
        r.Run();
        EXPECT_LE(r.w()->counterrortimeout.load(), 1);
        sent = r.now;
        if (i < 3) {
            EXPECT_EQ(r.Sent().substr(2), "SA1;") << "re-send " << i + 1;
        }
    }
    EXPECT_EQ(r.Sent(), "4dST;") << "after the third re-send: back to status";
    EXPECT_EQ(ExistError(r.w(), 4), 1);
    EXPECT_STREQ(r.w()->errDetail, "Err SA");
    testing::internal::GetCapturedStderr();
}

TEST(LinearStep, RefusedReplyIsRetried) {
    Rig r;
    testing::internal::CaptureStderr();
    r.Run();
    r.Sent();
    r.Reply("ST?;");
    r.Run();
    EXPECT_EQ(r.Sent(), "4dST;");
    EXPECT_EQ(r.w()->retryCount.load(), 1);
    r.Reply(kIdle);
    r.Run();
    EXPECT_EQ(r.w()->retryCount.load(), 0);
    testing::internal::GetCapturedStderr();
}

TEST(LinearStep, CrcMismatchReportedAndRetriedNotDecoded) {
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
}

TEST(LinearStep, CutReplyIsClearedAtTheTimeOut) {
    Rig r;
    testing::internal::CaptureStderr();
    r.Run();
    EXPECT_EQ(r.Sent(), "4dST;");
    // A status reply with trip digits where the merged buffer would read S2.
    const std::string full =
        "ST00" + std::string(4, '0') + "9090" + std::string(8, '0') + "20482048" + "0000" + "0000;";
    char crc[3];
    std::snprintf(crc, sizeof crc, "%02X", Sys_Crc8Calculation(full.c_str(), full.size()));
    const std::string frame = crc + full;
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
    r.Reply("MR1;");
    EXPECT_EQ(LinearStep(r.w(), &r.link, r.now), 1000);
    EXPECT_EQ(r.w()->linearProcessStatus.load(), kLinParked);
    EXPECT_EQ(r.Sent(), "");
    testing::internal::GetCapturedStderr();
}

} // namespace
