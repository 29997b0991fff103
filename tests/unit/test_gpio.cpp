// The GPIO panel thread: the step on a fake clock and an in-memory register
// block (debounce, press timing, outputs, panel-micro scheduling and link),
// the simulated panel micro and the mapped block.
#include "unit.h"

#include "panel_keys.h"
#include "platform/clock.h"
#include "platform/gpio_block.h"
#include "platform/panel_micro_sim.h"
#include "ui/gpio.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Press {
    int key;
    int mask;
    uint64_t at; // fake ms
};

// The key dispatcher's stand-in: records each call; `repeatKey` answers as a
// repeating action for long presses of that key.
std::vector<Press> gPresses;
uint64_t gNow = 0;
int gRepeatKey = 0;
int RecordPress(Works *, int key, int mask) {
    gPresses.push_back({key, mask, gNow});
    return (mask != 0 && key == gRepeatKey) ? 1 : 0;
}

uint32_t gWaitedUs = 0;
void CountWait(uint32_t us) {
    gWaitedUs += us;
}

struct FakePanel {
    uint32_t mem[kGpioBlockSize / 4] = {};
    GpioBlock regs;
    GpioPanel panel;
    TestUnit unit;
    Works *w = unit.w();

    FakePanel() {
        mem[kGPLEV0 / 4] = kKeyBits;
        regs.regs = mem;
        regs.wait = CountWait;
        panel.decode = RecordPress;
        gPresses.clear();
        gNow = 1000;
        gRepeatKey = 0;
        gWaitedUs = 0;
        w->tinyCmdOut = kTinyIdle;
        w->tinyTimer = 1000000; // no exchanges unless a test wants them
        GpioStart(&regs, &panel);
    }
    void Key(int k, bool down) {
        if (down)
            mem[kGPLEV0 / 4] &= ~(1u << (21 + k));
        else
            mem[kGPLEV0 / 4] |= 1u << (21 + k);
    }
    // `n` passes, 2 ms apart on the fake clock.
    void Passes(int n) {
        for (int i = 0; i < n; i++) {
            gNow += 2;
            GpioStep(&regs, &panel, w, gNow);
        }
    }
    // Passes until the accepted level of `k` is `level`; returns how many.
    int UntilLevel(int k, int level, int limit = 50) {
        for (int i = 1; i <= limit; i++) {
            Passes(1);
            if (panel.level[k - 1] == level) return i;
        }
        return -1;
    }
};

TEST(GpioStep, DebounceNoiseAndTwoKeys) {
    FakePanel f;
    f.Passes(3); // first pass records the released levels: no press
    // Five single noisy samples spread out only count; the sixth is taken.
    for (int i = 0; i < 5; i++) {
        f.Key(1, true);
        f.Passes(1);
        f.Key(1, false);
        f.Passes(4);
    }
    EXPECT_EQ(f.panel.level[0], 1);
    EXPECT_EQ(f.panel.debounce[0], 5);
    f.Key(1, true);
    f.Passes(1);
    EXPECT_EQ(f.panel.level[0], 0);
    EXPECT_EQ(f.panel.debounce[0], 0);
    f.Key(1, false);
    EXPECT_EQ(f.UntilLevel(1, 1), 6);
    ASSERT_EQ(gPresses.size(), 1u);
    EXPECT_EQ(gPresses[0].key, 1);
    EXPECT_EQ(gPresses[0].mask, 0);

    // Two keys together: the first is taken, the second waits while it is held
    // and is taken on its next sample once the first is released.
    gPresses.clear();
    f.Key(2, true);
    f.Key(5, true);
    EXPECT_EQ(f.UntilLevel(2, 0), 6);
    f.Passes(20);
    EXPECT_EQ(f.panel.level[4], 1);
    EXPECT_EQ(f.panel.debounce[4], 5);
    f.Key(2, false);
    EXPECT_EQ(f.UntilLevel(2, 1), 6);
    EXPECT_EQ(f.panel.level[4], 0); // taken in the pass that released key 2
    f.Key(5, false);
    f.Passes(10);
    ASSERT_EQ(gPresses.size(), 2u);
    EXPECT_EQ(gPresses[0].key, 2);
    EXPECT_EQ(gPresses[1].key, 5);
}

TEST(GpioStep, ShortAndLongPressWithLeadFlag) {
    FakePanel f;
    TIME_LONG_PRESS = 0.5;
    f.Passes(2);
    f.Key(4, true);
    f.UntilLevel(4, 0);
    uint64_t accepted = gNow;
    while (gNow + 2 <= accepted + 350)
        f.Passes(1);
    EXPECT_EQ(f.w->keyFlags.load() & 1, 0) << "lead flag before 0.35 s";
    f.Passes(1); // 352 ms
    EXPECT_EQ(f.w->keyFlags.load() & 1, 1) << "lead flag from 0.15 s before the long press";
    EXPECT_TRUE(gPresses.empty());
    f.Passes(500); // held to about 1.35 s
    ASSERT_EQ(gPresses.size(), 1u);
    EXPECT_EQ(gPresses[0].key, 4);
    EXPECT_EQ(gPresses[0].mask, 1 << 3);
    EXPECT_EQ(gPresses[0].at - accepted, 502u);
    f.Key(4, false);
    f.Passes(20);
    EXPECT_EQ(gPresses.size(), 1u) << "a long press does not act again on release";
    // A short press (100 ms) acts on release only, without the lead flag.
    f.w->keyFlags = 0;
    f.Key(4, true);
    f.Passes(50);
    EXPECT_EQ(gPresses.size(), 1u);
    f.Key(4, false);
    f.Passes(6);
    ASSERT_EQ(gPresses.size(), 2u);
    EXPECT_EQ(gPresses[1].mask, 0);
    EXPECT_EQ(f.w->keyFlags.load() & 1, 0);
}

TEST(GpioStep, RepeatCadenceAndNoExtraStepOnRelease) {
    FakePanel f;
    TIME_LONG_PRESS = 0.5;
    gRepeatKey = 3;
    f.Passes(2);
    f.Key(3, true);
    f.UntilLevel(3, 0);
    uint64_t accepted = gNow;
    f.Passes(1250); // 2.5 s held
    ASSERT_GE(gPresses.size(), 30u);
    EXPECT_EQ(gPresses[0].at - accepted, 502u); // TIME_LONG_PRESS
    for (size_t i = 1; i < gPresses.size(); i++) {
        uint64_t gap = gPresses[i].at - gPresses[i - 1].at;
        if (i <= 14)
            EXPECT_EQ(gap, 102u) << "step " << i; // 0.1 s
        else
            EXPECT_EQ(gap, 22u) << "step " << i; // 0.02 s
        EXPECT_EQ(gPresses[i].mask, 1 << 2);
    }
    // The release is taken on its sixth sample; repeats may go on until then,
    // the release itself adds no step.
    f.Key(3, false);
    f.UntilLevel(3, 1);
    size_t held = gPresses.size();
    EXPECT_EQ(gPresses.back().mask, 1 << 2);
    f.Passes(20);
    EXPECT_EQ(gPresses.size(), held) << "the release adds no step";
    EXPECT_EQ(f.panel.repeats, 0);
    // A new hold starts again at TIME_LONG_PRESS.
    f.Key(3, true);
    f.UntilLevel(3, 0);
    accepted = gNow;
    f.Passes(260);
    ASSERT_EQ(gPresses.size(), held + 1);
    EXPECT_EQ(gPresses.back().at - accepted, 502u);
}

TEST(GpioStep, OutputsAndStartUp) {
    FakePanel f;
    static std::vector<std::pair<uint32_t, uint32_t>> pulls;
    f.mem[kGPFSEL2 / 4] = 0xFFFFFFFFu;
    f.regs.afterWrite = [](GpioBlock *, uint32_t off, uint32_t v) {
        if (off == kGPPUD || off == kGPPUDCLK0) pulls.push_back({off, v});
    };
    GpioStart(&f.regs, &f.panel);
    f.regs.afterWrite = nullptr;
    // 4, 6, 13 and 16 outputs, the keys inputs, GPIO13 high, pull-ups 2, keys, 0, 0.
    EXPECT_EQ(f.mem[kGPFSEL0 / 4], (1u << 12) | (1u << 18));
    EXPECT_EQ(f.mem[kGPFSEL1 / 4], (1u << 9) | (1u << 18));
    EXPECT_EQ(f.mem[kGPFSEL2 / 4], 0xFF00003Fu);
    EXPECT_EQ(f.mem[kGPSET0 / 4] & (1u << 13), 1u << 13);
    std::vector<std::pair<uint32_t, uint32_t>> want = {
        {kGPPUD, 2}, {kGPPUDCLK0, kKeyBits}, {kGPPUD, 0}, {kGPPUDCLK0, 0}};
    EXPECT_EQ(pulls, want);
    // Every pass: GPIO16 high; GPIO13 low while FW UPDATE is on (linkFlags bit 0).
    for (uint8_t flags : {0x05, 0x04}) {
        f.w->linkFlags = flags;
        f.Passes(1);
        bool low = (flags & 1) != 0;
        EXPECT_EQ(f.mem[kGPSET0 / 4] & ((1u << 13) | (1u << 16)), low ? 1u << 16 : 0x12000u);
        EXPECT_EQ(f.mem[kGPCLR0 / 4] & (1u << 13), low ? 1u << 13 : 0u);
    }
}

// The step against the simulated panel micro on an in-memory block.
TEST(GpioStep, PanelMicroExchangesAndPolls) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/panel-micro.txt"), "version 0x31\nv12 150\nv15 181\nvamp 0xC8\n");
    FakePanel f;
    PanelMicroSimAttach(&f.regs);
    auto *sim = static_cast<PanelMicroSim *>(f.regs.sim);
    f.Passes(1);            // starts the mirror of the outputs
    f.w->tinyCmdOut = 0xB0; // as start-up leaves it
    f.w->tinyTimer = 0;
    f.Key(2, true); // a key held through the exchanges is never touched by the program

    std::vector<std::pair<int, uint8_t>> exchanges; // pass, command
    int seen = sim->exchanges;
    for (int pass = 1; pass <= 1000; pass++) {
        f.Passes(1);
        if (sim->exchanges != seen) {
            seen = sim->exchanges;
            exchanges.push_back({pass, sim->lastCommand});
        }
    }
    std::vector<std::pair<int, uint8_t>> want = {
        {1, 0xB0}, {2, 0xD1}, {203, 0xD2}, {404, 0xD3}, {806, 0xD1}};
    EXPECT_EQ(exchanges, want) << "D1, D2, D3, pause, one exchange in 201 passes";
    EXPECT_EQ(f.w->tinyData[0].load(), 0x31);
    EXPECT_EQ(f.w->tinyData[1].load(), 150);
    EXPECT_EQ(f.w->tinyData[2].load(), 181);
    EXPECT_EQ(f.w->tinyData[3].load(), 200);
    EXPECT_EQ(f.w->tinyCmdOut.load(), kTinyIdle);
    EXPECT_EQ(f.mem[kGPLEV0 / 4] & kKeyBits, kKeyBits & ~(1u << 23));

    // A posted 0x85 goes at the next reload instead of the poll: one exchange,
    // its answer in tinyData[1]; the polls then go on where they were.
    // The link's waits: 8 x 600 + 600 + 12 x 400 us.
    f.w->tinyCmd = 0x85;
    testing::internal::CaptureStderr();
    int before = sim->exchanges;
    gWaitedUs = 0;
    f.Passes(201);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "CMD TINY 85\n");
    EXPECT_EQ(sim->exchanges, before + 1);
    EXPECT_EQ(gWaitedUs, 10200u);
    EXPECT_EQ(sim->lastCommand, 0x85);
    EXPECT_EQ(f.w->tinyData[1].load(), 0x85);
    EXPECT_EQ(f.w->tinyCmd.load(), 0);
    f.Passes(201);
    EXPECT_EQ(sim->lastCommand, 0xD2);
    EXPECT_EQ(ReadWholeFile(root.Path("/panel-micro.log")), "B0\n85\n");
    PanelMicroSimDetach(&f.regs);
}

TEST(GpioBlockMap, PlainFileMissingAndUnmappable) {
    ScopedSimRoot root;
    std::string mem = root.Path("/dev/mem");
    // A short plain file is grown to a page and mapped shared.
    WriteWholeFile(mem, std::string(0x38, '\0'));
    GpioBlock b;
    ASSERT_EQ(GpioOpen(&b), 0);
    EXPECT_NE(b.sim, nullptr);
    struct stat st {};
    ASSERT_EQ(stat(mem.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4096);
    GpioWrite(&b, kGPFSEL1, 0x12345678u);
    int fd = open(mem.c_str(), O_RDONLY);
    uint32_t word = 0;
    ASSERT_EQ(pread(fd, &word, 4, kGPFSEL1), 4);
    close(fd);
    EXPECT_EQ(word, 0x12345678u);
    GpioClose(&b);

    unlink(mem.c_str());
    EXPECT_EQ(GpioOpen(&b), 8);
    ASSERT_EQ(symlink("/dev/null", mem.c_str()), 0); // a device without the controller's page
    EXPECT_EQ(GpioOpen(&b), -1);
    EXPECT_EQ(b.regs, nullptr);
    std::string log = ReadWholeFile(root.Path("/var/log/helix.log"));
    EXPECT_NE(log.find("<3>can't open /dev/mem\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<3>mmap error "), std::string::npos) << log;
}

} // namespace
