// The error and warning list and its handling.
#include "unit.h"

#include "model/cmd_queue.h"
#include "model/hooks.h"
#include "model/errors.h"
#include "platform/wait.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class ErrorList : public ::testing::Test {
  protected:
    TestUnit unit;
    Works *w = unit.w();
    void SetUp() override {
        InitErrTab(w);
        w->errSuspend = 0;
        testing::internal::CaptureStderr();
    }
    std::string Err() { return testing::internal::GetCapturedStderr(); }
    std::vector<int> List() {
        std::vector<int> v;
        for (int i = 0; i < w->errCount.load(); i++)
            v.push_back(w->errList[i].load());
        return v;
    }
};

TEST_F(ErrorList, OneEntryPerCodeAndOnlyValidCodes) {
    w->timerWake = WakeOpen(); // only a change of the list wakes the supervisor
    auto wakes = [this, n = uint64_t{0}]() mutable {
        return read(w->timerWake, &n, 8) == 8 ? n : 0;
    };
    AddErrore(w, 8);
    AddErrore(w, 8);
    AddErrore(w, kErrCodes);
    AddErrore(w, -1);
    AddErrore(w, 12);
    EXPECT_EQ(wakes(), 2u);
    std::string err = Err();
    EXPECT_EQ(List(), (std::vector<int>{8, 12}));
    EXPECT_NE(err.find("Add: N: 1 err:8\n"), std::string::npos);
    EXPECT_NE(err.find("Add: N: 2 err:12\n"), std::string::npos);
    EXPECT_EQ(ExistError(w, 12), 1);
    EXPECT_EQ(ExistError(w, 3), 0);
    EXPECT_EQ(ExistAnError(w), 8);
    testing::internal::CaptureStderr();
    DeleteErrore(w, 8);
    DeleteErrore(w, 8);
    DeleteErrore(w, 3);
    EXPECT_EQ(wakes(), 1u);
    EXPECT_EQ(Err(), "Del ERROR: N: 1 err:8\n");
    EXPECT_EQ(List(), (std::vector<int>{12}));
    WakeClose(w->timerWake);
    w->timerWake = -1;
}

TEST_F(ErrorList, SuspendedUntilTheBoardAnswers) {
    w->errSuspend = 1;
    AddErrore(w, 4);
    Err();
    EXPECT_EQ(w->errCount.load(), 0);
    EXPECT_EQ(w->errFlags.load(), 0);
}

TEST_F(ErrorList, TemperatureAlarmsAloneKeepKeyOne) {
    AddErrore(w, 2);
    AddErrore(w, 22);
    EXPECT_EQ(VerifyError(w), 0);
    AddErrore(w, 4);
    EXPECT_EQ(VerifyError(w), 1);
    Err();
}

TEST_F(ErrorList, BandWarningSetsProtectionAndTemporaryFlags) {
    AddErrore(w, 19);
    std::string err = Err();
    EXPECT_EQ(w->errFlags.load(), 5);
    EXPECT_NE(err.find(" -->set protezione 0x1\n"), std::string::npos);
    EXPECT_NE(err.find(" -->tasto reset errore 0x5\n"), std::string::npos);
}

TEST_F(ErrorList, KeyOneWithOnlyTemperatureOneAlarmKeepsItsAction) {
    AddErrore(w, 2); // type 1: no flags
    EXPECT_EQ(GPIO_Errori(w), 0);
    EXPECT_EQ(List(), (std::vector<int>{2}));
    EXPECT_NE(Err().find("----------> 2- ERRORI!!\n"), std::string::npos);
}

TEST_F(ErrorList, CleanUpPassesRemoveEveryMatch) {
    for (int code : {4, 9, 8, 10, 12})
        AddErrore(w, code); // 4, 8, 12 temporary
    VerifyWarningTemporanei(w);
    EXPECT_EQ(List(), (std::vector<int>{9, 10}));
    AddErrore(w, 11);
    VerifyWarningTemporaneiDopoResetBias(w);
    EXPECT_EQ(w->errCount.load(), 0);
    EXPECT_NE(Err().find("Del temp err: 8 (1 , 3)\n"), std::string::npos);
}

TEST_F(ErrorList, ProtectionCycle) {
    w->boardStatus[2] = 0x01; // a protection tripped
    w->bypass = 0;
    AddErrore(w, 15);
    AddErrore(w, 4);
    ASSERT_EQ(w->errFlags.load(), 5);
    // Key 1: reset the protections and resend the board's settings.
    EXPECT_EQ(GPIO_Errori(w), 1);
    EXPECT_EQ(Queued(w), (std::vector<int>{13, 17, 19, 14}));
    EXPECT_EQ(w->cmdQueueDrain.load(), 1);
    EXPECT_EQ(w->errResend.load(), 1);
    // The board answered: the list empties.
    w->boardStatus[2] = 0;
    GestErroreSerial(w);
    std::string err = Err();
    EXPECT_EQ(w->errCount.load(), 0);
    EXPECT_TRUE(w->errFlags.load() & 2);
    EXPECT_NE(err.find(">>> ERRORI: RESET Protezione AMPL!\n"), std::string::npos);
    EXPECT_NE(err.find(">>> ERRORI: ResetBiasCmd\n"), std::string::npos);
    // Status byte 1 is written as a digit: a 0 is no NUL byte in the trace.
    EXPECT_NE(err.find(" -->reset protezione 0\n"), std::string::npos);
}

TEST_F(ErrorList, MicroResetReinitialisesTheBoard) {
    w->boardStatus[2] = 0x80;
    w->ModeWorkIdx = 1; // frequency from the transceiver: the board gets it again
    w->freq = 7074000;
    ResetBiasCmd(w);
    Err();
    std::vector<int> q = Queued(w);
    ASSERT_GE(q.size(), 4u + 14u);
    EXPECT_EQ(q[0], 13);
    EXPECT_EQ(q[1], 0) << "start-up commands follow the protection reset";
    // "MP0;" and "CPFFFF;" already wait with the start-up set: not queued twice.
    EXPECT_EQ((std::vector<int>(q.end() - 4, q.end())), (std::vector<int>{32, 9, 20, 14}));
    EXPECT_EQ(std::count(q.begin(), q.end(), 17), 1);
    EXPECT_EQ(std::count(q.begin(), q.end(), 13), 1);
    EXPECT_EQ(std::count(q.begin(), q.end(), 22), 1) << "the thresholds again";
}

TEST_F(ErrorList, AcknowledgingAMicroResetGivesTheBoardItsSettingsBack) {
    w->boardStatus[2] = 0x80;
    AddErrore(w, 16); // a temporary warning: no protection flag
    EXPECT_EQ(GPIO_Errori(w), 1);
    EXPECT_EQ(ExistError(w, 16), 0);
    std::vector<int> q = Queued(w);
    EXPECT_EQ(std::count(q.begin(), q.end(), 32), 1) << "start-up set with its MR0";
    EXPECT_EQ(std::count(q.begin(), q.end(), 22), 1) << "thresholds";
    EXPECT_EQ(w->cmdQueueDrain.load(), 1);
    // Without a micro reset the warning is only removed.
    w->boardStatus[2] = 0;
    AddErrore(w, 16);
    EXPECT_EQ(GPIO_Errori(w), 1);
    EXPECT_TRUE(Queued(w).empty());
    Err();
}

TEST_F(ErrorList, AcknowledgeRemovesErrorsWithoutFlags) {
    AddErrore(w, 9); // type 0
    AddErrore(w, 10);
    EXPECT_EQ(GPIO_Errori(w), 1);
    EXPECT_EQ(w->errCount.load(), 0);
    EXPECT_NE(Err().find("FOUND ERR: 9 \n"), std::string::npos);
}

// The starts the restart asks the application for, each with its switch as it
// was at the call. The hooks only record: the real threads would fail at once
// without their devices, dropping their switches and raising the fault again
// while the test looks.
std::vector<std::string> gStarts;

TEST_F(ErrorList, RemoteThreadsRestartOnlyAfterAFault) {
    const Hooks app = hooks;
    hooks.StartThreadAudioWrite = [](Works *w) {
        gStarts.push_back(std::string("write ") + w->setup->EnableWrite.load());
    };
    hooks.StartThreadAudioRead = [](Works *w) {
        gStarts.push_back(std::string("read ") + w->setup->EnableRead.load());
    };
    hooks.StartThreadCAT = [](Works *w) {
        gStarts.push_back(std::string("CAT ") + w->setup->EnableCAT.load());
    };
    hooks.StartTavReadFFT = [](Works *w) {
        gStarts.push_back(std::string("FFT ") + w->setup->EnableFFT.load());
    };
    gStarts.clear();
    w->remoteOn = 1;
    w->remoteFault = 0;
    GestErroreRemote(w);
    EXPECT_TRUE(gStarts.empty());
    EXPECT_EQ(w->setup->EnableWrite.load(), '0');
    w->remoteFault = 1;
    GestErroreRemote(w);
    EXPECT_EQ(gStarts, (std::vector<std::string>{"write 1", "read 1", "CAT 1", "FFT 1"}));
    EXPECT_EQ(w->remoteFault.load(), 0);
    // Threads whose switches are on are left alone.
    gStarts.clear();
    w->remoteFault = 1;
    GestErroreRemote(w);
    EXPECT_TRUE(gStarts.empty());
    hooks = app;
    std::string err = Err();
    EXPECT_NE(err.find(">>> RESTART REMOTE!\n"), std::string::npos);
    EXPECT_NE(err.find("start audio write\n"), std::string::npos);
}

TEST_F(ErrorList, ConcurrentAddAndRemoveKeepTheCountTrue) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 3000; i++) {
                int code = (i * 7 + t * 5) % kErrCodes;
                if ((i + t) % 3 == 0)
                    DeleteErrore(w, code);
                else
                    AddErrore(w, code);
            }
        });
    for (auto &t : threads)
        t.join();
    Err();
    std::vector<int> list = List();
    std::vector<int> seen(kErrCodes, 0);
    for (int code : list) {
        ASSERT_GE(code, 0);
        ASSERT_LT(code, kErrCodes);
        EXPECT_EQ(++seen[code], 1) << "code " << code << " doubled";
    }
    for (int code = 0; code < kErrCodes; code++)
        EXPECT_EQ(ExistError(w, code), seen[code]) << code;
}

// Two links fail: each is shown in turn, and answering one keeps the other.
TEST_F(ErrorList, EveryFailedPortIsShownInTurn) {
    ReportPortError(w, kPortLinear, "Linear: Unable to open device /dev/ttyAMA0");
    ReportPortError(w, kPortCatSerial, "CAT: Unable to open device /dev/ttyUSB1");
    EXPECT_EQ(w->portError.load(), kPortLinear);
    EXPECT_STREQ(w->portErrorText, "Linear: Unable to open device /dev/ttyAMA0");
    EXPECT_EQ(AnswerPortError(w), kPortLinear);
    EXPECT_EQ(w->portError.load(), -1);
    EXPECT_FALSE(ShowNextPortError(w)) << "the dismissal is shown first";
    w->portError = 0;
    EXPECT_TRUE(ShowNextPortError(w));
    EXPECT_STREQ(w->portErrorText, "CAT: Unable to open device /dev/ttyUSB1");
    EXPECT_EQ(AnswerPortError(w), kPortCatSerial);
    w->portError = 0;
    EXPECT_FALSE(ShowNextPortError(w));
    Err();
}

} // namespace
