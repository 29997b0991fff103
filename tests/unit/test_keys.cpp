// Key sequences on the front panel: presses go through the GPIO step on a
// fake clock and an in-memory register block into the real key actions; the
// tests look at menus, queued power-board codes and the files written.
#include "screenshot.h"
#include "unit.h"

#include "model/cmd_queue.h"
#include "model/tuner_word.h"
#include "config/antenna_banks.h"
#include "config/filter_table.h"
#include "config/tuner_memory.h"
#include "model/errors.h"
#include "platform/gpio_block.h"
#include "ui/gpio.h"
#include "ui/status.h"
#include "ui/fault_page.h"
#include "model/fault_history.h"
#include "ui/keys.h"
#include "ui/status.h"
#include "ui/menu.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Codes = std::vector<int>;

bool Exists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

struct Keys : ::testing::Test {
    ScopedSimRoot root;
    ScreenUnit unit;
    Works *w = &unit.works;
    uint32_t mem[kGpioBlockSize / 4] = {};
    GpioBlock regs;
    GpioPanel panel;
    uint64_t now = 1000;

    void SetUp() override {
        InitErrTab(w);
        InitMenuNova(w);
        w->errSuspend = 0;
        w->maxBank = 4;
        w->numBanco = 0;
        TIME_LONG_PRESS = 0.5;
        mem[kGPLEV0 / 4] = kKeyBits;
        regs.regs = mem;
        regs.wait = [](uint32_t) {};
        w->tinyCmdOut = kTinyIdle;
        w->tinyTimer = 1000000; // no panel-micro exchanges
        GpioStart(&regs, &panel);
        Passes(2);
    }
    void Key(int k, bool down) {
        if (down)
            mem[kGPLEV0 / 4] &= ~(1u << (21 + k));
        else
            mem[kGPLEV0 / 4] |= 1u << (21 + k);
    }
    void Passes(int n) {
        for (int i = 0; i < n; i++) {
            now += 2;
            GpioStep(&regs, &panel, w, now);
        }
    }
    void Hold(int k, int ms) {
        Key(k, true);
        Passes(ms / 2);
        Key(k, false);
        Passes(10);
    }
    void Short(int k) { Hold(k, 100); }
    void Long(int k) { Hold(k, 700); }
    Codes Drain() { return Queued(w); }
    void Write(const std::string &file, const std::string &text) {
        WriteWholeFile(root.Path("/opt/set/" + file), text);
    }
    std::string Read(const std::string &file) {
        return ReadWholeFile(root.Path("/opt/set/" + file));
    }
    bool Has(const std::string &file) { return Exists(root.Path("/opt/set/" + file)); }
};

TEST_F(Keys, MemShortStepsTheBankLongOpensTheMemoryTable) {
    Write("antenna_b1.txt", "!817\n40m 7000000 7300000 1 2 0 0 100.0\n");
    Short(1);
    EXPECT_EQ(w->numBanco.load(), 1);
    EXPECT_EQ(w->ModeWorkIdx.load(), 2);
    EXPECT_EQ(w->memRows.load(), 1);
    EXPECT_EQ(w->bandRow.load(), -1);
    EXPECT_NE(Read("setup.txt").find("NumBanco: 1\n"), std::string::npos) << Read("setup.txt");
    // A MAX BANK lowered below the current bank wraps at once.
    w->numBanco = 9;
    Short(1);
    EXPECT_EQ(w->numBanco.load(), 0);

    Long(1);
    EXPECT_EQ(w->numBanco.load(), 0) << "a long MEM does not step the bank";
    EXPECT_EQ(w->menuIdx.load(), 6);
    EXPECT_EQ(w->screenFlags.load(), 2);
    EXPECT_STREQ(w->imageName, "statusB");
    EXPECT_STREQ(KeyLabel(6, 2, 2), InterfaceName(w->ModeWorkIdx.load()));
    Short(1); // BACK
    EXPECT_EQ(w->menuIdx.load(), 0);
    EXPECT_EQ(w->screenFlags.load(), 0);
    EXPECT_STREQ(w->imageName, "img1");
    // MEM over a memory table left open only closes it.
    w->screenFlags = 2;
    Short(1);
    EXPECT_EQ(w->screenFlags.load(), 0);
    EXPECT_EQ(w->numBanco.load(), 0);
}

TEST_F(Keys, ViewCycleStatusPageAndScreenSaver) {
    w->viewType = 4;
    Short(6);
    EXPECT_EQ(w->viewType.load(), 5);
    EXPECT_STREQ(w->imageName, "m5a");
    Short(6);
    EXPECT_EQ(w->viewType.load(), 1);
    EXPECT_STREQ(w->imageName, "img1");
    EXPECT_NE(ReadWholeFile(root.Path("/var/log/helix.log")).find("<6>type to 1\n"),
              std::string::npos);

    Long(6);
    EXPECT_EQ(w->screenFlags.load(), 1);
    EXPECT_STREQ(w->imageName, "status");
    EXPECT_EQ(w->viewType.load(), 1) << "the long press does not step the view";
    // Any short press then only closes the status page.
    Short(3);
    EXPECT_EQ(w->screenFlags.load(), 0);
    EXPECT_EQ(w->antenna.load(), 0);
    EXPECT_STREQ(w->imageName, "img1");
    EXPECT_EQ(Drain(), Codes{});

    // A key under the screen saver only wakes the screen.
    w->saveScreenOn = 1;
    w->lastKeyTime = 0;
    Long(3);
    EXPECT_EQ(w->saveScreenOn.load(), 0);
    EXPECT_EQ(w->antenna.load(), 0);
    EXPECT_NE(w->lastKeyTime.load(), 0);
    EXPECT_EQ(w->keyFlags.load() & 1, 0);
    EXPECT_EQ(Drain(), Codes{});
}

TEST_F(Keys, AttenuatorCycleAndAntenna) {
    w->freq = 7100000;
    Write("antenna.txt", "!Gen\n40m 7000000 7300000 1 1 0 0 100.0\n");
    LoadTabConfig(w, 0);
    w->tunerThrough = 0;
    w->bypass = 0;
    w->attenuatorShown = 0;
    for (int want = 1; want <= 3; want++) {
        Short(2);
        EXPECT_EQ(w->attenuator.load(), want);
        EXPECT_EQ(Drain(), Codes{14});
    }
    Short(2); // standby
    EXPECT_EQ(w->attenuatorShown.load(), 4);
    EXPECT_EQ(Drain(), Codes{20});
    EXPECT_EQ(Read("antenna.txt"), "!Gen\n40m 7000000 7300000 0 1 0 3 100.0\n");
    w->bypass = 1; // the board went to standby
    Short(2);
    EXPECT_EQ(w->attenuator.load(), 0);
    EXPECT_EQ(Drain(), (Codes{14, 19}));
    Long(2);
    EXPECT_EQ(w->attenuatorShown.load(), 0) << "a long IN-ATT does nothing";

    // Transmitting: no standby in the cycle.
    w->boardStatus[1] = 1;
    w->bypass = 0;
    w->attenuatorShown = 3;
    Short(2);
    EXPECT_EQ(w->attenuatorShown.load(), 0);
    EXPECT_EQ(Drain(), Codes{14});
    // Transmitting in standby: refused with error 17; nothing changes or is queued.
    w->bypass = 1;
    w->attenuatorShown = 2;
    w->attenuator = 2;
    std::string before = Read("antenna.txt");
    Short(2);
    EXPECT_EQ(ExistError(w, 17), 1);
    EXPECT_EQ(w->attenuatorShown.load(), 2);
    EXPECT_EQ(w->attenuator.load(), 2);
    EXPECT_EQ(Drain(), Codes{});
    EXPECT_EQ(Read("antenna.txt"), before);

    // ANT: antennas 1, 2, 3 in turn, stored in the band's row.
    w->attenuatorShown = 0;
    for (int want : {1, 2, 0}) {
        Short(3);
        EXPECT_EQ(w->antenna.load(), want);
        EXPECT_EQ(Drain(), (Codes{7, 40})) << "with the antenna's (cleared) word";
        char row[64];
        std::snprintf(row, sizeof row, "40m 7000000 7300000 1 %d 0 2 ", want + 1);
        EXPECT_NE(Read("antenna.txt").find(row), std::string::npos) << Read("antenna.txt");
    }
}

// SET, the list's wrap, ENTER, and confirm back to where the page was opened.
TEST_F(Keys, ParameterListAndEdit) {
    Short(5);
    Short(3);
    EXPECT_EQ(w->parPage.load(), kParPages - 1);
    Short(4);
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 2);
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 1);
    Short(6);
    w->screenFlags = 4; // opened over the filter page
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 12);
}

TEST_F(Keys, ManualStepsRepeatWhileHeld) {
    w->menuIdx = 4;
    w->tuneC = 400;
    w->tuneL = 0;
    SetMode(w, 1);
    SetC(w, 400);
    Key(5, true); // up C
    while (panel.level[4] != 0)
        Passes(1);
    uint64_t accepted = now;
    auto until = [&](uint64_t t) {
        while (now < accepted + t)
            Passes(1);
    };
    until(502); // TIME_LONG_PRESS
    EXPECT_EQ(w->tuneC.load(), 401);
    until(502 + 14 * 102 - 2); // fourteen steps 0.1 s apart
    EXPECT_EQ(w->tuneC.load(), 414);
    until(502 + 14 * 102);
    EXPECT_EQ(w->tuneC.load(), 415);
    until(502 + 14 * 102 + 10 * 22); // then 0.02 s apart
    EXPECT_EQ(w->tuneC.load(), 425);
    Key(5, false);
    while (panel.level[4] != 1)
        Passes(1);
    int released = w->tuneC.load();
    Passes(30);
    EXPECT_EQ(w->tuneC.load(), released) << "the release adds no step";
    EXPECT_EQ(DecodeCapacitaFromTuneval(w->tunerWord.load()), released);
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord.load()), 1);
    EXPECT_EQ(w->tuneSem.load(), 0);
    EXPECT_EQ(Drain(), Codes{11});

    // At the ends nothing changes, but a held key keeps asking to repeat.
    w->tuneC = 511;
    SetC(w, 511);
    Key(5, true);
    Passes(450);
    EXPECT_GT(panel.repeats, 2);
    Key(5, false);
    Passes(10);
    EXPECT_EQ(w->tuneC.load(), 511);
    EXPECT_EQ(Drain(), Codes{});
    Short(2); // down L at 0
    EXPECT_EQ(w->tuneL.load(), 0);
    Short(3);
    EXPECT_EQ(w->tuneL.load(), 1);
    EXPECT_EQ(DecodeInduttanzaFromTuneval(w->tunerWord.load()), 1);
    EXPECT_EQ(Drain(), Codes{11});

    // Long key 1: CL, LC, bypass in turn.
    Long(1);
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord.load()), 2);
    Long(1);
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord.load()), 3);
    EXPECT_EQ(w->tunerThrough.load(), 1);
    Long(1);
    EXPECT_EQ(w->tuneMode.load(), 1);
    EXPECT_EQ(Drain(), Codes{11});
    // STARTTX: the input goes to 0 while the board reports it, and back.
    w->boardStatus[0] = 1;
    w->antInput = 3;
    Short(6);
    EXPECT_EQ(w->txTest.load(), 0x13);
    EXPECT_EQ(w->antInput.load(), 0);
    EXPECT_STREQ(KeyLabel(4, 6, 1), "StopTX");
    Short(6);
    EXPECT_EQ(w->txTest.load(), 0x01);
    EXPECT_STREQ(KeyLabel(4, 6, 1), "StartTX");
    EXPECT_EQ(Drain(), Codes{21});
    // Leaving for the store-tune menu ends a transmit test.
    Short(6);
    Short(1);
    EXPECT_EQ(w->menuIdx.load(), 8);
    EXPECT_EQ(w->txTest.load() & 3, 1);
    EXPECT_STREQ(KeyLabel(4, 6, 1), "StartTX");
}

TEST_F(Keys, TuneMenuStartStopBypassAndResend) {
    w->menuIdx = 3;
    w->tuneEnabled = 0;
    w->tuneOpt = 1;
    w->ModeWorkIdx = 1;
    w->tunerThrough = 0;
    w->tuneState = 1;
    Short(1);
    EXPECT_EQ(w->menuIdx.load(), 3) << "no BACK while tuning";
    testing::internal::CaptureStderr();
    Short(4); // the operator's stop
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(w->tuneState.load(), 0);
    EXPECT_NE(err.find("esc tune TUNEMENU\n"), std::string::npos);
    EXPECT_EQ(err.find("START TUNE"), std::string::npos) << "a stop does not start again";
    EXPECT_EQ(w->tuneOpt.load() & 0x10, 0);

    w->tuneOpt = 0x41;
    testing::internal::CaptureStderr();
    Short(4);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("c-START TUNE (41)!!\n"), std::string::npos) << err;
    EXPECT_NE(err.find("b-START TUNE!!\na-START TUNE!!\n"), std::string::npos) << err;
    EXPECT_EQ(w->tuneOpt.load(), 0x11);
    w->tuneState = 0;
    Drain();
    // Tune switched off, a missing tuner, a bypassed tuner: no start.
    for (int c = 0; c < 3; c++) {
        w->tuneOpt = c == 0 ? 0x09 : 0x01;
        w->tuneEnabled = c == 1 ? static_cast<int8_t>(0x80) : 0;
        w->tunerThrough = c == 2 ? 1 : 0;
        testing::internal::CaptureStderr();
        Short(4);
        err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("b-START"), std::string::npos) << c;
        EXPECT_EQ(w->tuneOpt.load() & 0x10, 0) << c;
        EXPECT_EQ(Drain(), Codes{}) << c;
        // The bypassed tuner says why on the message line.
        EXPECT_EQ(w->notice.load() == kNoticeTunerThrough, c == 2) << c;
    }

    // ATU: bypass, then back to the stored solution of the frequency.
    w->tunerThrough = 0;
    Short(5);
    EXPECT_EQ(w->tunerThrough.load(), 1);
    EXPECT_EQ(Drain(), Codes{39});
    Short(5);
    EXPECT_EQ(w->tunerThrough.load(), 0);
    EXPECT_EQ(Drain(), Codes{40}); // nothing stored: the tuner is cleared

    // Long MANUAL sends every setting again (the amplifier in standby stays
    // there); short MANUAL opens menu 4.
    w->ModeWorkIdx = 0;
    Long(6);
    EXPECT_EQ(Drain(), (Codes{17, 13, 22, 20, 21, 7, 14}));
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 4);
    EXPECT_EQ(w->manualTune.load(), 1);
    EXPECT_EQ(Drain(), Codes{10});
}

TEST_F(Keys, StoreTuneRefusedInBypassThenStoreAndRecall) {
    w->freq = 7075000;
    w->menuIdx = 4;
    WaitSemaforoTuneval(w);
    SetMode(w, 3);
    StopSemaforoTuneval(w);
    Short(1);
    EXPECT_EQ(w->menuIdx.load(), 8);
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 3);
    EXPECT_EQ(w->keyFlags.load() & 2, 2);
    EXPECT_FALSE(Has("atu_ant1.txt"));
    Short(2); // any key of menu 3 clears the refusal
    EXPECT_EQ(w->keyFlags.load() & 2, 0);

    // A CL solution stored for bank 0, antenna 2.
    SetMode(w, 1);
    SetI(w, 120);
    SetC(w, 200);
    w->menuIdx = 4;
    w->numBanco = 0;
    w->antenna = 0;
    Short(1);
    EXPECT_EQ(w->saveBank.load(), 0);
    Short(3);
    EXPECT_EQ(w->saveAnt.load(), 1);
    for (int i = 0; i < 4; i++)
        Short(2); // round the banks: 1, 2, 3, 0
    EXPECT_EQ(w->saveBank.load(), 0);
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 3);
    EXPECT_NE(Read("atu_ant2.txt").find(" 7075000 1 1 120 200"), std::string::npos)
        << Read("atu_ant2.txt");
    Drain();
    // Recall: leaving the tuner bypass loads it for antenna 2.
    w->antenna = 1;
    w->tunerThrough = 1;
    Short(5);
    EXPECT_EQ(Drain(), Codes{27});
    TuneEntry e{};
    int32_t from, to;
    int first, end;
    LoadTuneValFromTabRam(&e, AtuIdxSearch(7075000, &from, &to, &first, &end), 1, w);
    EXPECT_EQ(e.L, 120);
    EXPECT_EQ(e.C, 200);
}

TEST_F(Keys, BankCopyAndResetReloadTheCurrentBank) {
    const std::string bank1 = "!817\n40m 7000000 7300000 1 2 0 0 100.0\n";
    Write("antenna.txt", "!Gen\n80m 3500000 3800000 1 1 0 0 50.0\n");
    Write("antenna_b1.txt", bank1);
    Write("atu_ant1_b1.txt", "2115 7075000 1 1 120 200\n");
    LoadAllBankTable(w, 0);
    w->menuIdx = 6;
    w->screenFlags = 2;
    Short(5); // UTIL
    Short(2); // COPY from bank 0
    Short(2);
    for (int i = 0; i < 3; i++)
        Short(3);
    EXPECT_EQ(w->copyTo.load(), 3);
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 6);
    EXPECT_EQ(Read("antenna_b3.txt"), bank1) << "the origin's interface goes with it";
    EXPECT_NE(Read("atu_ant1_b3.txt").find(" 7075000 1 1 120 200"), std::string::npos);
    // The working tables are the current bank's again.
    EXPECT_STREQ(w->antTab[0].name, "80m");
    EXPECT_EQ(w->ModeWorkIdx.load(), 0);
    EXPECT_EQ(w->bandRow.load(), -1);
    int32_t from, to;
    int first, end;
    int idx = AtuIdxSearch(7075000, &from, &to, &first, &end);
    EXPECT_EQ(EsisteTuneValInTabRam(w, idx, first, end, 0), 1);

    // Reset bank 3 only.
    Short(5);
    Short(3); // RESET from bank 0
    for (int i = 0; i < 3; i++)
        Short(2);
    Short(6);
    EXPECT_FALSE(Has("antenna_b3.txt"));
    EXPECT_FALSE(Has("atu_ant1_b3.txt"));
    EXPECT_TRUE(Has("antenna_b1.txt"));
    // The bank counter passes maxBank (every bank) before it wraps.
    Short(5);
    Short(3);
    for (int i = 0; i < 5; i++)
        Short(2);
    EXPECT_EQ(w->resetBank.load(), 0);
    for (int i = 0; i < 4; i++)
        Short(2);
    EXPECT_EQ(w->resetBank.load(), 4);
    w->bandRow = 2;
    Short(6);
    EXPECT_FALSE(Has("antenna_b1.txt"));
    EXPECT_FALSE(Has("atu_ant1_b1.txt"));
    EXPECT_FALSE(Has("antenna.txt"));
    EXPECT_EQ(w->bandRow.load(), -1);
    EXPECT_EQ(w->memRows.load(), kAntRows); // the default table
    // Counters left above a lowered MAX BANK wrap at once.
    w->menuIdx = 10;
    w->copyFrom = 7;
    Short(2);
    EXPECT_EQ(w->copyFrom.load(), 0);
    Short(1);
    EXPECT_EQ(w->menuIdx.load(), 6);
}

TEST_F(Keys, MemoryTableRowsSaveAndBack) {
    const std::string table = "!Gen\n80m 3500000 3800000 1 1 0 0 50.0\n"
                              "40m 7000000 7300000 1 2 0 1 60.0\n";
    Write("antenna.txt", table);
    LoadAllBankTable(w, 0);
    w->menuIdx = 6;
    w->screenFlags = 2;
    Short(4);
    EXPECT_EQ(w->memRow.load(), 1);
    Short(4);
    EXPECT_EQ(w->memRow.load(), 0);
    Short(3);
    EXPECT_EQ(w->memRow.load(), 1);
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 7);
    EXPECT_EQ(w->memCol.load(), 0);
    // An edit ("+" on the power column) dropped by BACK, kept by SAVE.
    Short(4);
    EXPECT_NEAR(w->antTab[1].pwr, 60.1f, 1e-4);
    Short(1);
    EXPECT_EQ(w->menuIdx.load(), 6);
    EXPECT_EQ(w->memCol.load(), -1);
    EXPECT_FLOAT_EQ(w->antTab[1].pwr, 60.0f);
    EXPECT_EQ(Read("antenna.txt"), table);
    Short(6);
    Short(4);
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 7);
    EXPECT_NE(Read("antenna.txt").find("40m 7000000 7300000 1 2 0 1 60.1\n"), std::string::npos)
        << Read("antenna.txt");

    // A reload brings the row inside the table; an empty table has no rows to move to.
    Write("antenna.txt", "!Gen\n");
    Short(1);
    EXPECT_EQ(w->memRows.load(), 0);
    EXPECT_EQ(w->memRow.load(), 0);
    Short(4);
    Short(3);
    EXPECT_EQ(w->memRow.load(), 0);
    Short(6);
    EXPECT_EQ(w->menuIdx.load(), 6) << "no cell to edit";
}

TEST_F(Keys, FilterPageEnableAndLeave) {
    for (int i = 0; i < kFilterRows; i++)
        w->filterTab[i] = FilterRow{1000000 * (i + 1), 1000000 * (i + 1) + 500000, 0};
    w->menuIdx = 12;
    w->screenFlags = 4;
    w->filterRow = 0;
    Short(2); // UP from row 0 to 7, DOWN twice to row 1
    Short(3);
    Short(3);
    Short(5);
    EXPECT_EQ(w->filterTab[1].enabled, 1);
    EXPECT_NE(Read("filter.txt").find("2000000\t\t2500000\t\t1 \n"), std::string::npos)
        << Read("filter.txt");
    Short(6);
    EXPECT_EQ(w->filterTab[1].enabled, 0);
    Short(1);
    EXPECT_EQ(w->menuIdx.load(), 0);
    EXPECT_EQ(w->screenFlags.load(), 0);
}

// Where every key of every menu leads (short, and long where it differs),
// from a quiet unit: no tune, no status page, a three-row memory table.
TEST_F(Keys, MenuTransitionsOfEveryKey) {
    struct Case {
        int menu, key;
        bool isLong;
        int to;
    } const cases[] = {
        {0, 1, false, 0},   {0, 1, true, 6},    {0, 2, false, 0},   {0, 2, true, 0},
        {0, 3, false, 0},   {0, 4, false, 3},   {0, 4, true, 3},    {0, 5, false, 1},
        {0, 5, true, 1},    {0, 6, false, 0},   {0, 6, true, 0},    {1, 1, false, 0},
        {1, 2, false, 1},   {1, 3, false, 1},   {1, 4, false, 1},   {1, 5, false, 1},
        {1, 6, false, 2},   {2, 1, false, 2},   {2, 2, false, 2},   {2, 5, false, 2},
        {2, 6, false, 1},   {3, 1, false, 0},   {3, 2, false, 3},   {3, 3, false, 3},
        {3, 4, false, 3},   {3, 5, false, 3},   {3, 6, false, 4},   {3, 6, true, 3},
        {4, 1, false, 8},   {4, 1, true, 4},    {4, 2, false, 4},   {4, 5, false, 4},
        {4, 6, false, 4},   {5, 1, false, 5},   {5, 5, false, 5},   {5, 6, false, 5},
        {6, 1, false, 0},   {6, 2, false, 6},   {6, 3, false, 6},   {6, 4, false, 6},
        {6, 5, false, 9},   {6, 6, false, 7},   {7, 1, false, 6},   {7, 2, false, 7},
        {7, 3, false, 7},   {7, 4, false, 7},   {7, 5, false, 7},   {7, 6, false, 7},
        {8, 1, false, 0},   {8, 2, false, 8},   {8, 3, false, 8},   {8, 4, false, 8},
        {8, 5, false, 8},   {9, 1, false, 6},   {9, 2, false, 10},  {9, 3, false, 11},
        {9, 4, false, 9},   {9, 6, false, 9},   {10, 1, false, 6},  {10, 2, false, 10},
        {10, 3, false, 10}, {10, 5, false, 10}, {10, 6, false, 6},  {11, 1, false, 6},
        {11, 2, false, 11}, {11, 3, false, 11}, {11, 6, false, 6},  {12, 1, false, 12},
        {12, 2, false, 12}, {12, 5, false, 12}, {13, 4, false, 13}, {13, 1, false, 0},
    };
    Write("antenna.txt", "!Gen\n160m 1800000 2000000 1 1 0 0 50\n"
                         "80m 3500000 3800000 1 1 0 0 50\n40m 7000000 7300000 1 1 0 0 50\n");
    LoadAllBankTable(w, 0);
    for (const Case &c : cases) {
        w->menuIdx = c.menu;
        w->screenFlags = 0;
        w->parPage = 3; // a page with nothing to confirm but the setup line
        w->manualTune = 0;
        w->portError = 0;
        w->memRow = 0;
        DecodeTasto(w, c.key, c.isLong ? 1 << (c.key - 1) : 0);
        EXPECT_EQ(w->menuIdx.load(), c.to)
            << "menu " << c.menu << " key " << c.key << (c.isLong ? " long" : " short");
        Drain();
    }
}

TEST_F(Keys, LinkFailureRetryAndCancel) {
    w->menuIdx = 5;
    w->portError = 2;
    w->setup->EnableCatSerial = '1';
    Short(3);
    EXPECT_EQ(w->portError.load(), 2) << "only Retry and Cancel act";
    Short(6); // Cancel switches off the FT-817 link that failed
    EXPECT_EQ(w->portError.load(), -1);
    EXPECT_EQ(w->setup->EnableCatSerial.load(), '0');
    w->portError = 3;
    w->setup->EnableSerial = '0';
    Short(5); // Retry (the switch is off here, so nothing starts)
    EXPECT_EQ(w->portError.load(), -1);
    w->portError = 5;
    w->setup->EnableFFT = '1';
    Short(6);
    EXPECT_EQ(w->portError.load(), -1);
    EXPECT_EQ(w->setup->EnableFFT.load(), '0');
    w->portError = 1;
    w->setup->EnableLinear = '0';
    Short(6); // the power board's link is retried, not switched off
    EXPECT_EQ(w->portError.load(), -1);
    EXPECT_EQ(w->setup->EnableLinear.load(), '0');
}

} // namespace

// New faults come in at the top of the history page: the view stays on the
// entries the operator scrolled to.
TEST_F(Keys, FaultHistoryViewStaysWhereTheOperatorPutIt) {
    auto record = [&](int from, int to) {
        for (int c = from; c <= to; c++)
            FaultHistoryRecord(w, c, kFaultAdded);
        FaultHistoryFlush(w);
    };
    record(1, 9);
    OpenFaultHistory(w);
    DrawFaultHistory(w);
    Short(4);
    Short(4); // DOWN twice
    DrawFaultHistory(w);
    ASSERT_EQ(w->faultTop.load(), 2);
    const std::string shown = FaultHistoryRead(20)[2];
    record(10, 12);
    DrawFaultHistory(w);
    EXPECT_EQ(w->faultTop.load(), 5);
    EXPECT_EQ(FaultHistoryRead(20)[5], shown);
}
