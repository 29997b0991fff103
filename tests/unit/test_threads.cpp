// Thread start operations, remote start and stop, the marker clean-up.
#include "unit.h"

#include "app/threads.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "model/errors.h"
#include "supervisor/timer.h"
#include "radio.h"
#include "transceiver/serial.h"
#include "ui/gpio.h"
#include "ui/mode.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <dirent.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

class ThreadSet : public ::testing::Test {
  protected:
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    void SetUp() override {
        // The remote threads find their devices: the USB sound device and
        // the transceiver's sample stream on the simulated bus.
        WriteWholeFile(root.Path("/lsusb.txt"), "Bus 001 Device 004: ID 0d8c:01af C-Media\n"
                                                "Bus 001 Device 005: ID 1721:061a TAV\n");
    }
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

// Threads of this process with the given name (set when each thread starts).
int ThreadsNamed(const std::string &name) {
    int n = 0;
    DIR *d = opendir("/proc/self/task");
    if (d == nullptr) return -1;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string comm = ReadWholeFile(std::string("/proc/self/task/") + e->d_name + "/comm");
        if (!comm.empty() && comm.back() == '\n') comm.pop_back();
        n += comm == name;
    }
    closedir(d);
    return n;
}

// A body the test holds: it counts its runs and stays in until the latch opens.
std::mutex gLatchLock;
std::condition_variable gLatchOpened;
bool gLatchOpen = false;
std::atomic<int> gLatchRuns{0};
void *LatchedBody(void *) {
    gLatchRuns++;
    std::unique_lock<std::mutex> lock(gLatchLock);
    gLatchOpened.wait(lock, [] { return gLatchOpen; });
    return nullptr;
}
void Latch(bool open) {
    std::lock_guard<std::mutex> lock(gLatchLock);
    gLatchOpen = open;
    gLatchOpened.notify_all();
}

// A start used to join the thread its handle still held; a thread that had
// not yet left its body then blocked the caller for good. With the old body
// held in place, starts must return, and the same thread runs the body once
// more when it is let go (or not, if its switch dropped meanwhile).
TEST_F(ThreadSet, AStartNeverWaitsForTheOldBody) {
    ThreadHandle h{"latched"};
    std::atomic<char> sw{'1'};
    gLatchRuns = 0;
    Latch(false);
    ASSERT_EQ(StartThread(&h, LatchedBody, w, &sw), 0);
    ASSERT_TRUE(WaitUntil([] { return gLatchRuns == 1; }, kPatienceMs));
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        EXPECT_EQ(StartThread(&h, LatchedBody, w, &sw), 0);
        EXPECT_EQ(StartThread(&h, LatchedBody, w, &sw), 0);
        returned = true;
    });
    // The latch stays shut until both starts are back: a start that waited
    // for the old body would never return (the deadline only ends that run).
    bool back = WaitUntil([&] { return returned.load(); }, kPatienceMs);
    EXPECT_TRUE(back) << "a start waited for the old body";
    EXPECT_EQ(gLatchRuns, 1) << "no second copy while the first is in";
    Latch(true);
    caller.join();
    EXPECT_TRUE(WaitUntil([&] { return !h.alive.load(); }, kPatienceMs));
    EXPECT_EQ(gLatchRuns, 2) << "two starts while held: one more run";
    // Held again, and its switch drops before it is let go: no further run.
    Latch(false);
    ASSERT_EQ(StartThread(&h, LatchedBody, w, &sw), 0);
    ASSERT_TRUE(WaitUntil([] { return gLatchRuns == 3; }, kPatienceMs));
    ASSERT_EQ(StartThread(&h, LatchedBody, w, &sw), 0);
    sw = '0';
    Latch(true);
    EXPECT_TRUE(JoinThread(&h));
    EXPECT_EQ(gLatchRuns, 3);
}

// Remote operation and the working mode switched on and off in quick turns:
// one of each thread that should run is left, none of the one switched off,
// and the TAV link works again.
TEST_F(ThreadSet, QuickRestartsLeaveOneOfEachThread) {
    SimRadioConfig tav;
    tav.root = root.root;
    SimRadio *tavRadio = SimRadioStart(tav);
    ASSERT_NE(tavRadio, nullptr);
    SimRadioConfig ft;
    ft.root = root.root;
    ft.kind = SimRadioKind::Ft817;
    ft.port = "/dev/ttyUSB2";
    ft.catPort = "";
    SimRadio *ftRadio = SimRadioStart(ft);
    ASSERT_NE(ftRadio, nullptr);
    InitErrTab(w);
    w->errSuspend = 0;
    SetupRecord &s = unit.setup;
    s.EnableGPIO = '0';
    SET_SLOT(s.CatSerialPort, "/dev/ttyUSB2");
    s.EnableCatSerial = '0';
    s.EnableSerial = '1';
    w->ModeWorkIdx = 1;
    StartThreadTAV(w);

    testing::internal::CaptureStderr();
    for (int round = 0; round < 2; round++) {
        StartThreadCommRemote(w);
        SleepMs(100);
        ExitThreadRemote(w);
        StartThreadCommRemote(w);
        for (int mode : {2, 1, 2, 1}) {
            w->ModeWorkIdx = mode;
            ApplyModeWork(w, true);
            SleepMs(round == 0 ? 150 : 0); // the second round does not wait at all
        }
        if (round == 0) ExitThreadRemote(w);
    }
    testing::internal::GetCapturedStderr();
    // A thread on its way out may still be listed a moment: wait for the count
    // to settle rather than for a fixed time.
    for (const char *name : {"Serial", "Cat", "th_leggi", "th_scrivi", "TAVRead"})
        EXPECT_TRUE(WaitUntil([&] { return ThreadsNamed(name) == 1; }, kPatienceMs)) << name;
    EXPECT_TRUE(WaitUntil([&] { return ThreadsNamed("CatSerial") == 0; }, kPatienceMs));
    EXPECT_EQ(ExistError(w, 20), 0) << "the old CAT thread's exit was cleared";
    EXPECT_EQ(w->remoteFault.load(), 0);
    // The TAV link restarted into a working one.
    pthread_mutex_lock(&unit.serMut);
    unit.tavPar.freqCur = 0;
    pthread_mutex_unlock(&unit.serMut);
    EXPECT_TRUE(WaitUntil(
        [&] {
            TavParams p{};
            getParameters(&p, w);
            return p.freqCur == 14074000u && w->serFD >= 0;
        },
        kPatienceMs));
    for (const char *name : {"Serial", "Cat", "th_leggi", "th_scrivi", "TAVRead"})
        EXPECT_EQ(ThreadsNamed(name), 1) << name << ": still one, no late second copy";

    // Clean shutdown: every thread leaves once the run ends.
    uint64_t t0 = NowMs();
    w->running = 0;
    for (ThreadHandle *h : {&thrSer, &thrCatSer, &thrCat, &thrLeggi, &thrScrivi, &thrFFT})
        JoinThread(h);
    EXPECT_LT(NowMs() - t0, kPromptMs);
    for (const char *name : {"Serial", "CatSerial", "Cat", "th_leggi", "th_scrivi", "TAVRead"})
        EXPECT_TRUE(WaitUntil([&] { return ThreadsNamed(name) == 0; }, kPatienceMs)) << name;
    SimRadioStop(ftRadio);
    SimRadioStop(tavRadio);
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
    // Not before the second is up, nor much later.
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 1000u + kPromptMs);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tinyCmd busy: code 165 dropped\n");
    EXPECT_EQ(w->tinyCmd.load(), 181);
    // The GPIO thread itself takes posted codes.
    w->tinyCmd = 0;
    StartThread(&thrGPIO, GPIO, w);
    EXPECT_EQ(PostTinyCmd(w, 197), 0);
    EXPECT_EQ(PostTinyCmd(w, 149), 0);
    // The simulated panel micro acknowledges a posted code with the code itself.
    EXPECT_TRUE(WaitUntil([&] { return w->tinyCmd.load() == 0 && w->tinyData[1].load() == 149; },
                          kPatienceMs));
    w->running = 0;
    JoinThread(&thrGPIO);
    w->running = 1;
    // Without the GPIO thread nothing would ever take the byte: the post is dropped.
    w->setup->EnableGPIO = '0';
    w->tinyCmd = 0;
    EXPECT_EQ(PostTinyCmd(w, 149), -1);
    EXPECT_EQ(w->tinyCmd.load(), 0);
}

// The update marker: removed inside the write window; kept when the
// partition cannot be made writable; a failed removal still remounts it
// read-only.
TEST_F(ThreadSet, MarkerCleanUp) {
    const std::string rw = "mount -o remount defaults,rw " + root.root + "/opt/set",
                      ro = "mount -v -n -o remount -r " + root.root + "/opt/set";
    testing::internal::CaptureStderr();
    SimCommandFails(root.root, "mount", true);
    EXPECT_EQ(AggFWRemoveMarker(), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("can't mount rw /opt/set/ error", 0), 0u) << err;
    EXPECT_EQ(access(root.Path("/opt/good").c_str(), F_OK), 0);
    EXPECT_EQ(SimCommands(root.root), std::vector<std::string>{rw}) << "no read-only remount";
    SimCommandFails(root.root, "mount", false);

    const std::string rm = root.Path("/bin/rm"), rmText = ReadWholeFile(rm);
    WriteWholeFile(rm, "#!/bin/sh\nexit 1\n");
    chmod(rm.c_str(), 0755);
    testing::internal::CaptureStderr();
    EXPECT_EQ(AggFWRemoveMarker(), -1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("can't :rm -f /opt/good", 0), 0u) << err;
    EXPECT_EQ(SimCommands(root.root), (std::vector<std::string>{rw, rw, ro}));
    EXPECT_EQ(RemountWindowUsers(), 0);
    WriteWholeFile(rm, rmText);

    testing::internal::CaptureStderr();
    EXPECT_EQ(AggFWRemoveMarker(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "--------- END THREAD AGG FW!!!\n");
    EXPECT_NE(access(root.Path("/opt/good").c_str(), F_OK), 0);
    EXPECT_EQ(SimCommands(root.root), (std::vector<std::string>{rw, rw, ro, rw, ro}));
    // A missing marker is no error.
    testing::internal::CaptureStderr();
    EXPECT_EQ(AggFWRemoveMarker(), 0);
    testing::internal::GetCapturedStderr();
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
    // The thread counts wall time: never faster (a late pass only counts
    // later), and it does reach zero (the deadline only ends a failing run;
    // a count of passes or of processor time would not get there).
    w->errHoldOff = 300;
    uint64_t t0 = NowMs();
    StartThread(&thrTime, timer, w);
    EXPECT_TRUE(WaitUntil([&] { return w->errHoldOff.load() == 0; }, kPatienceMs));
    EXPECT_GE(NowMs() - t0, 250u);
    w->running = 0;
    EXPECT_TRUE(JoinThread(&thrTime));
}

} // namespace
