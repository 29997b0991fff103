// The power-board command ring.
#include "unit.h"

#include "amplifier/cmd_queue.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

std::vector<int> Drain(Works *w) {
    std::vector<int> out;
    int code;
    while (CmdQueueTake(w, &code))
        out.push_back(code);
    return out;
}

TEST(CommandRing, KeepsOrderAndWrapsAround) {
    TestUnit u;
    Works *w = u.w();
    for (int round = 0; round < 3; round++) { // crosses the wrap at 30 several times
        for (int i = 0; i < 20; i++)
            ASSERT_EQ(IncPNTIn_CMDLinear(7 + i, w), 0);
        std::vector<int> got = Drain(w);
        ASSERT_EQ(got.size(), 20u);
        for (int i = 0; i < 20; i++)
            EXPECT_EQ(got[i], 7 + i);
        EXPECT_TRUE(CmdQueueEmpty(w));
    }
}

TEST(CommandRing, RefusesTheThirtiethCode) {
    TestUnit u;
    Works *w = u.w();
    testing::internal::CaptureStderr();
    for (int i = 0; i < 29; i++)
        ASSERT_EQ(IncPNTIn_CMDLinear(i + 1, w), 0);
    EXPECT_EQ(IncPNTIn_CMDLinear(40, w), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cmd queue full: code 40 refused"), std::string::npos);
    EXPECT_EQ(CmdQueuePending(w), 29);
    std::vector<int> got = Drain(w);
    ASSERT_EQ(got.size(), 29u);
    for (int i = 0; i < 29; i++)
        EXPECT_EQ(got[i], i + 1) << "the ring was not overwritten";
    EXPECT_EQ(IncPNTIn_CMDLinear(40, w), 0) << "space again once drained";
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
    std::vector<int> got = Drain(w);
    ASSERT_GE(got.size(), 14u);
    std::vector<int> head(got.begin(), got.begin() + 5);
    std::vector<int> tail(got.end() - 9, got.end());
    EXPECT_EQ(head, (std::vector<int>{0, 36, 37, 38, 17}));
    EXPECT_EQ(tail, (std::vector<int>{21, 7, 12, 11, 24, 33, 34, 13, 32}));
}

} // namespace
