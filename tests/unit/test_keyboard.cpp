// The service keyboard against the simulated keyboard (a FIFO of input events).
#include "ui/keyb.h"
#include "platform/clock.h"
#include "unit.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

struct KeyboardUnit {
    ScopedSimRoot root;
    TestUnit u;
    KeyboardUnit() {
        keybSearchMs = 50;
        u.w()->running = 1;
    }
    ~KeyboardUnit() { keybSearchMs = 20000; }
    int LogCount(const std::string &text) {
        std::string log = ReadWholeFile(root.Path("/var/log/helix.log"));
        int n = 0;
        for (size_t p = log.find(text); p != std::string::npos; p = log.find(text, p + 1))
            n++;
        return n;
    }
    int Commands(const std::string &start) {
        auto lines = SimCommands(root.root);
        return int(std::count_if(lines.begin(), lines.end(),
                                 [&](const std::string &l) { return l.rfind(start, 0) == 0; }));
    }
    void Key(int code, int value) { ASSERT_EQ(SimKeyboardKey(root.root, code, value), 0); }
};

TEST(Keyboard, KeysActAndTheKeyboardIsFoundAgainAfterUnplugging) {
    KeyboardUnit k;
    Works *w = k.u.w();
    ASSERT_EQ(SimKeyboardPlug(k.root.root, true), 0);
    RunningThread t(keyb, w);
    ASSERT_TRUE(WaitUntil([&] { return k.LogCount("Keyboard opened") == 1; }, kPatienceMs));

    // F11 held: one press, repeats and a release; then one more key to know
    // the F11 events have all been read.
    k.Key(87, 1);
    k.Key(87, 2);
    k.Key(87, 2);
    k.Key(87, 0);
    k.Key(99, 1);
    k.Key(99, 0);
    ASSERT_TRUE(WaitUntil([&] { return k.Commands("fbgrab") == 1; }, kPatienceMs));
    EXPECT_EQ(k.LogCount("Save setup"), 1);
    EXPECT_EQ(k.Commands("fbgrab " + k.root.root + "/tmp/screen.png"), 1);
    EXPECT_FALSE(ReadWholeFile(k.root.Path("/opt/set/setup.txt")).empty());

    // Unplugged and plugged again: found again and working.
    ASSERT_EQ(SimKeyboardPlug(k.root.root, false), 0);
    ASSERT_TRUE(WaitUntil([&] { return k.LogCount("keyboard removed") == 1; }, kPatienceMs));
    ASSERT_EQ(SimKeyboardPlug(k.root.root, true), 0);
    ASSERT_TRUE(WaitUntil([&] { return k.LogCount("Keyboard opened") == 2; }, kPatienceMs));
    k.Key(68, 1);
    ASSERT_TRUE(WaitUntil([&] { return k.Commands("sshshell") == 1; }, kPatienceMs));
    EXPECT_TRUE(WaitUntil([&] { return (w->linkFlags & 2) != 0; }, kPatienceMs));

    // F12 ends the program: `running` drops for every thread.
    k.Key(88, 1);
    ASSERT_TRUE(t.WaitDone(kPatienceMs));
    EXPECT_EQ(w->running.load(), 0);
    EXPECT_EQ(k.LogCount("Exited by KEY_F12"), 1);
    EXPECT_EQ(k.Commands("stty sane"), 1);
    EXPECT_EQ(k.Commands("tput clear"), 1);
}

TEST(Keyboard, ShutdownDoesNotWaitForAKey) {
    for (bool plugged : {false, true}) {
        KeyboardUnit k;
        if (plugged) {
            ASSERT_EQ(SimKeyboardPlug(k.root.root, true), 0);
        }
        RunningThread t(keyb, k.u.w());
        if (plugged) {
            ASSERT_TRUE(WaitUntil([&] { return k.LogCount("Keyboard opened") == 1; }, kPatienceMs));
        }
        SleepMs(100);
        uint64_t start = NowMs();
        k.u.w()->running = 0;
        ASSERT_TRUE(t.WaitDone(kPatienceMs));
        EXPECT_LT(NowMs() - start, kPromptMs);
    }
}

} // namespace
