// The power-board command ring.
#include "unit.h"

#include "model/cmd_queue.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

TEST(CommandRing, KeepsOrderAndWrapsAround) {
    TestUnit u;
    Works *w = u.w();
    for (int round = 0; round < 3; round++) { // crosses the wrap at 30 several times
        for (int i = 0; i < 20; i++)
            ASSERT_EQ(IncPNTIn_CMDLinear(7 + i, w), 0);
        std::vector<int> got = Queued(w);
        ASSERT_EQ(got.size(), 20u);
        for (int i = 0; i < 20; i++)
            EXPECT_EQ(got[i], 7 + i);
        EXPECT_TRUE(CmdQueueEmpty(w));
    }
}

TEST(CommandRing, FullRingKeepsCodesPendingAndSendsThemFirst) {
    TestUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    // 29 codes fill the ring; 17 ("MP0;") and 14 (attenuator) are among them.
    std::vector<int> fill = {0,  36, 37, 38, 17, 22, 21, 7,  12, 11, 24, 33, 34, 13, 32,
                             14, 9,  10, 28, 35, 8,  23, 39, 40, 39, 40, 39, 40, 39};
    for (int c : fill)
        ASSERT_EQ(IncPNTIn_CMDLinear(c, w), 0) << c;
    ASSERT_EQ(CmdQueuePending(w), 29);
    // Protection on while the ring is full: nothing is refused, and the older
    // "MP0;" and attenuator codes that would undo it are cancelled.
    EXPECT_EQ(IncPNTIn_CMDLinear(18, w), 0);
    EXPECT_EQ(IncPNTIn_CMDLinear(16, w), 0);
    EXPECT_EQ(IncPNTIn_CMDLinear(18, w), 0) << "already waiting";
    EXPECT_EQ(IncPNTIn_CMDLinear(19, w), 0);
    EXPECT_EQ(IncPNTIn_CMDLinear(20, w), 0) << "stand-by supersedes the pending in-line code";
    EXPECT_EQ(IncPNTIn_CMDLinear(31, w), -1) << "a code that names no command is refused";
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cmd queue full: code 18 waits"), std::string::npos);
    EXPECT_NE(err.find("cmd queue full: code 31 refused"), std::string::npos);
    std::vector<int> got = Queued(w);
    std::vector<int> want = {18, 16, 20};
    for (int c : fill)
        if (c != 17 && c != 14) want.push_back(c);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(CmdQueueEmpty(w));
}

TEST(CommandRing, ACodeAlreadyWaitingIsNotQueuedTwice) {
    TestUnit u;
    Works *w = u.w();
    for (int c : {28, 22, 28, 23, 9, 22, 9, 23})
        ASSERT_EQ(IncPNTIn_CMDLinear(c, w), 0);
    // The same setting written in turn by different codes keeps every step.
    for (int c : {19, 20, 19, 19, 14, 16, 16, 14})
        ASSERT_EQ(IncPNTIn_CMDLinear(c, w), 0);
    EXPECT_EQ(Queued(w), (std::vector<int>{28, 22, 23, 9, 19, 20, 19, 14, 16, 14}));
    ASSERT_EQ(IncPNTIn_CMDLinear(28, w), 0);
    EXPECT_EQ(Queued(w), (std::vector<int>{28})) << "queued again once sent";
}

TEST(CommandRing, SeveralProducersLoseNothing) {
    TestUnit u;
    Works *w = u.w();
    constexpr int kProducers = 4, kEach = 2000;
    testing::internal::CaptureStderr();
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; p++)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kEach; i++) {
                // Codes encode producer and sequence; wait while the ring is nearly
                // full (a refusal is logged, so keep them rare), retry if refused.
                while (CmdQueuePending(w) > 20)
                    std::this_thread::yield();
                while (IncPNTIn_CMDLinear(1 + p * kEach + i, w) != 0)
                    std::this_thread::yield();
            }
        });
    std::vector<int> last(kProducers, 0);
    int received = 0;
    while (received < kProducers * kEach) {
        int code;
        if (!CmdQueueTake(w, &code)) {
            std::this_thread::yield();
            continue;
        }
        int p = (code - 1) / kEach, seq = (code - 1) % kEach + 1;
        ASSERT_GE(p, 0);
        ASSERT_LT(p, kProducers);
        ASSERT_EQ(seq, last[p] + 1) << "producer " << p << " out of order or lost";
        last[p] = seq;
        received++;
    }
    for (auto &t : producers)
        t.join();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(CmdQueueEmpty(w));
}

TEST(CommandRing, StartUpCommandsInOrder) {
    TestUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    InitMicroCmd(w);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Init CRT ... \n"), std::string::npos);
    std::vector<int> got = Queued(w);
    ASSERT_GE(got.size(), 14u);
    std::vector<int> head(got.begin(), got.begin() + 5);
    std::vector<int> tail(got.end() - 9, got.end());
    EXPECT_EQ(head, (std::vector<int>{0, 36, 37, 38, 17}));
    EXPECT_EQ(tail, (std::vector<int>{21, 7, 12, 11, 24, 33, 34, 13, 32}));
}

} // namespace
