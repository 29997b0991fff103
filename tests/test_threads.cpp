// Thread start operations, remote start and stop, the marker clean-up.
#include "unit.h"

#include "core/threads.h"
#include "platform/clock.h"
#include "core/errors.h"
#include "supervisor/timer.h"
#include "ui/gpio.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

class ThreadSet : public ::testing::Test {
  protected:
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    void TearDown() override {
        w->running = 0;
        for (ThreadHandle *h : {&thrGPIO, &thrLin, &thrKey, &thrWsock, &thrSer, &thrCat, &thrCatSer,
                                &thrTime, &thrLeggi, &thrScrivi, &thrFFT})
            JoinThread(h);
    }
    std::string SavedSetup() { return ReadWholeFile(root.Path("/opt/set/setup.txt")); }
};

// A saved setup with remote operation on is stopped and started again at start-up.
TEST_F(ThreadSet, RemoteStopThenStart) {
    InitErrTab(w);
    w->errSuspend = 0;
    w->setup->EnableGPIO = '0'; // no panel micro: posts are dropped, not waited for
    w->setup->EnableRead = '1';
    for (int code : {9, 10, 5, 20, 4})
        AddErrore(w, code);
    testing::internal::CaptureStderr();
    ExitThreadRemote(w);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n"), std::string::npos);
    EXPECT_EQ(w->errCount.load(), 1);
    EXPECT_EQ(ExistError(w, 4), 1);
    EXPECT_NE(SavedSetup().find("EnableRead: 0\n"), std::string::npos);
    EXPECT_FALSE(thrLeggi.started.load());

    w->remoteFault = 1;
    testing::internal::CaptureStderr();
    StartThreadCommRemote(w);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(w->remoteFault.load(), 0);
    // Write, read, CAT, spectrum: in that order.
    size_t a = err.find("Th_scrivi start\n"), b = err.find("Th_leggi start\n"),
           c = err.find("Cat.c start\n");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    for (ThreadHandle *h : {&thrScrivi, &thrLeggi, &thrCat, &thrFFT})
        EXPECT_TRUE(h->started);
    std::string saved = SavedSetup();
    for (const char *line :
         {"EnableRead: 1\n", "EnableWrite: 1\n", "EnableCAT: 1\n", "EnableFFT: 1\n"})
        EXPECT_NE(saved.find(line), std::string::npos) << line;
}

TEST_F(ThreadSet, RemoteStartLeavesRunningThreadsAlone) {
    w->setup->EnableGPIO = '0';
    w->setup->EnableCAT = '1';
    StartThreadCAT(w);
    pthread_t first = thrCat.id;
    testing::internal::CaptureStderr();
    StartThreadCommRemote(w);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Cat.c start"), std::string::npos) << "started twice";
    EXPECT_TRUE(pthread_equal(first, thrCat.id));
}

TEST_F(ThreadSet, PanelMicroMailboxWaitsForTheGpioThread) {
    w->setup->EnableGPIO = '1';
    EXPECT_EQ(PostTinyCmd(w, 197), 0);
    EXPECT_EQ(w->tinyCmd.load(), 197);
    std::thread gpio([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        w->tinyCmd = 0; // the GPIO thread took the byte
    });
    EXPECT_EQ(PostTinyCmd(w, 181), 0);
    gpio.join();
    EXPECT_EQ(w->tinyCmd.load(), 181);
    // A mailbox nobody empties: the post gives up after a second, logged.
    testing::internal::CaptureStderr();
    uint64_t t0 = NowMs();
    EXPECT_EQ(PostTinyCmd(w, 165), -1);
    uint64_t took = NowMs() - t0;
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 1500u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tinyCmd busy: code 165 dropped\n");
    EXPECT_EQ(w->tinyCmd.load(), 181);
    // The GPIO thread itself takes posted codes.
    w->tinyCmd = 0;
    StartThread(&thrGPIO, GPIO, w);
    EXPECT_EQ(PostTinyCmd(w, 197), 0);
    EXPECT_EQ(PostTinyCmd(w, 149), 0);
    uint64_t t1 = NowMs();
    while (w->tinyCmd.load() != 0 && NowMs() - t1 < 1000)
        SleepMs(1);
    EXPECT_EQ(w->tinyCmd.load(), 0);
    EXPECT_EQ(w->tinyCmdOut.load(), 149);
    w->running = 0;
    JoinThread(&thrGPIO);
    w->running = 1;
    // Without the GPIO thread nothing would ever take the byte: the post is dropped.
    w->setup->EnableGPIO = '0';
    w->tinyCmd = 0;
    EXPECT_EQ(PostTinyCmd(w, 149), -1);
    EXPECT_EQ(w->tinyCmd.load(), 0);
}

TEST_F(ThreadSet, MarkerCleanUp) {
    ASSERT_EQ(access(root.Path("/opt/good").c_str(), F_OK), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(AggFWRemoveMarker(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "--------- END THREAD AGG FW!!!\n");
    EXPECT_NE(access(root.Path("/opt/good").c_str(), F_OK), 0);
    auto cmds = SimCommands(root.root);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[1], "mount -v -n -o remount -r " + root.root + "/opt/set");
    // A missing marker is no error.
    testing::internal::CaptureStderr();
    EXPECT_EQ(AggFWRemoveMarker(), 0);
    testing::internal::GetCapturedStderr();
}

TEST_F(ThreadSet, MarkerStaysWhenTheRemountFails) {
    SimCommandFails(root.root, "mount", true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(AggFWRemoveMarker(), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("can't mount rw /opt/set/ error", 0), 0u) << err;
    EXPECT_EQ(access(root.Path("/opt/good").c_str(), F_OK), 0);
    EXPECT_EQ(SimCommands(root.root).size(), 1u) << "no read-only remount";
}

} // namespace

namespace {

TEST(Supervisor, HoldOffCountsDownToZero) {
    TestUnit u;
    Works *w = u.w();
    w->errHoldOff = 2000;
    CountDownTimers(w, 10);
    EXPECT_EQ(w->errHoldOff.load(), 1990);
    CountDownTimers(w, 1985);
    EXPECT_EQ(w->errHoldOff.load(), 5);
    CountDownTimers(w, 10);
    EXPECT_EQ(w->errHoldOff.load(), 0) << "not below zero";
    // The thread counts wall time.
    w->errHoldOff = 300;
    StartThread(&thrTime, timer, w);
    uint64_t t0 = NowMs();
    while (w->errHoldOff.load() > 0 && NowMs() - t0 < 2000)
        SleepMs(5);
    uint64_t took = NowMs() - t0;
    EXPECT_EQ(w->errHoldOff.load(), 0);
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 800u);
    w->running = 0;
    EXPECT_TRUE(JoinThread(&thrTime));
}

} // namespace
