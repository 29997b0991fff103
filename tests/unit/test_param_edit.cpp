// Parameter pages: value bounds and wraps, toggles, which pages save the setup
// file and what they write, the network and memory-table editors, the page
// actions (factory reset, power off, updates, remote switch).
#include "unit.h"

#include "model/cmd_queue.h"
#include "config/antenna_banks.h"
#include "model/errors.h"
#include "platform/files.h"
#include "screenshot.h"
#include "supervisor/meters.h"
#include "config/network.h"
#include "ui/param_edit.h"
#include "ui/parameters.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

enum { kConfirm = 0, kDown = 1, kUp = 2, kPrev = 3, kNext = 4 };

// Sets the value a numeric page edits.
void SetValue(Works *w, int page, double v) {
    if (page == 0) w->maxBank = int(v);
    if (page == 2) w->fsValue = int(v);
    if (page == 4) w->attenuatorTune = uint8_t(v);
    if (page == 5) w->swrTarget = float(v);
    if (page == 6) w->swrTimeoutIdx = uint8_t(v);
    if (page == 13) RefLevel = int(v);
    if (page == 14) RefPos = int(v);
    if (page == 15) PointDiv = int(v);
    if (page == 16) w->offsetPlot = v;
    if (page == 21) TimerPeakSec = int(v);
    if (page == 22) w->tempMax1 = float(v);
    if (page == 23) w->tempMax2 = float(v);
    if (page == 25) w->saveScreenIdx = uint8_t(v);
    if (page == 27) TIME_LONG_PRESS = v;
}

// The value text of a page, as the list shows it.
std::string Shown(Works *w, int page) {
    char text[32];
    LoadParameterMenu(w, text, page, w->parItem);
    return text;
}

int Edit(Works *w, int page, int action) {
    w->parPage = page;
    return ModifyParameter(w, action);
}

class ParamEdit : public ::testing::Test {
  protected:
    ScopedSimRoot root;
    TestUnit u;
    Works *w = u.w();
    std::string SetupPath() const { return root.Path("/opt/set/setup.txt"); }
    bool SetupExists() const { return access(SetupPath().c_str(), F_OK) == 0; }
    std::vector<int> Queued() { return ::Queued(w); }
    void SetUp() override {
        unlink(SetupPath().c_str());
        RefLevel = 0, RefPos = 0, PointDiv = 1;
    }
};

TEST(ParamEditIP, GroupAndByteWrap) {
    uint8_t b[4] = {0, 10, 20, 255};
    EXPECT_EQ(ModifyIP(kPrev, 0, b), 3);
    EXPECT_EQ(ModifyIP(kNext, 3, b), 0);
    EXPECT_EQ(ModifyIP(kNext, 1, b), 2);
    EXPECT_EQ(ModifyIP(kUp, 3, b), 3);
    EXPECT_EQ(ModifyIP(kDown, 0, b), 0);
    EXPECT_EQ(ModifyIP(kUp, 7, b), 3); // a cursor out of range edits the last group
    EXPECT_EQ(std::vector<uint8_t>(b, b + 4), std::vector<uint8_t>({255, 10, 20, 1}));
}

TEST_F(ParamEdit, BoundsAndSteps) {
    struct Case {
        int page;
        double from;
        int action;
        const char *to; // as shown
        int repeat;
    } const cases[] = {
        // The last row starts outside the bounds (a hand-edited file): each kind of bound.
        {0, 2, kDown, "20", 0},         {0, 20, kUp, "2", 0},         {0, 7, kUp, "8", 0},
        {2, 10, kDown, "10", 1},        {2, 10000, kUp, "10000", 1},  {2, 500, kDown, "490", 1},
        {2, 500, kNext, "500", 0},      {4, 3, kUp, "0dB", 0},        {4, 1, kPrev, "3dB", 0},
        {5, 0, kUp, "1.00", 1},         {5, 1, kDown, "0.00", 1},     {5, 9.99, kUp, "10.00", 1},
        {5, 10, kUp, "10.00", 1},       {5, 1.5, kDown, "1.49", 1},   {5, 1.5, kNext, "1.50", 1},
        {6, 0, kDown, "25sec", 0},      {6, 4, kUp, "25sec", 0},      {6, 3, kDown, "15sec", 0},
        {6, 3, kPrev, "10sec", 0},      {13, 0, kDown, "-10", 0},     {13, 990, kUp, "1000", 0},
        {14, 0, kDown, "0", 0},         {14, 10, kUp, "10", 0},       {14, 4, kUp, "5", 0},
        {15, 2, kUp, "5", 0},           {15, 5, kUp, "10", 0},        {15, 10, kUp, "20", 0},
        {15, 20, kUp, "20", 0},         {15, 5, kDown, "2", 0},       {15, 1, kDown, "1", 0},
        {16, 0, kDown, "-0.10", 1},     {16, 2.5, kUp, "2.60", 1},    {21, 0, kDown, "0", 1},
        {21, 5000, kUp, "5000", 1},     {21, 3000, kDown, "2990", 1}, {22, 60, kUp, "60.00", 1},
        {22, 20, kDown, "20.00", 1},    {22, 45, kUp, "45.10", 1},    {22, 45, kPrev, "45.00", 1},
        {23, 80, kDown, "60.00", 1},    {25, 4, kUp, "5min", 0},      {25, 0, kDown, "5min", 0},
        {27, 0.3, kDown, "0.3 sec", 0}, {27, 5.0, kUp, "5.0 sec", 0}, {27, 0.5, kUp, "0.6 sec", 0},
        {2, 15, kDown, "5", 1},         {21, 6000, kDown, "5990", 1}, {27, 0.1, kUp, "0.3 sec", 0},
    };
    for (const Case &c : cases) {
        SetValue(w, c.page, c.from);
        EXPECT_EQ(Edit(w, c.page, c.action), c.repeat) << "page " << c.page << " from " << c.from;
        EXPECT_EQ(Shown(w, c.page), c.to)
            << "page " << c.page << " from " << c.from << " action " << c.action;
    }
    // A hundred steps up and back leave the value where it started.
    w->swrTarget = 1.5f;
    for (int i = 0; i < 100; i++)
        Edit(w, 5, kUp);
    EXPECT_EQ(Shown(w, 5), "2.50");
    for (int i = 0; i < 100; i++)
        Edit(w, 5, kDown);
    EXPECT_NEAR(w->swrTarget.load(), 1.5, 1e-6);
}

TEST_F(ParamEdit, TogglesOnEveryStepKey) {
    for (int page : {1, 3, 7, 17, 18, 19, 20, 24, 26, 29, 30, 31}) {
        std::string first = Shown(w, page);
        for (int action : {kDown, kUp, kPrev, kNext}) {
            std::string before = Shown(w, page);
            EXPECT_EQ(Edit(w, page, action), 0);
            EXPECT_NE(Shown(w, page), before) << "page " << page << " action " << action;
        }
        EXPECT_EQ(Shown(w, page), first) << "page " << page;
    }
    // A value outside 0/1 (a hand-edited setup file) still flips what is shown.
    struct Odd {
        int page;
        Shared<uint8_t> *field;
    } const odd[] = {{1, &w->fsMode},         {17, &w->filterView},   {18, &w->viewTimeStr},
                     {19, &w->tempUnits},     {20, &w->auxFwdEnable}, {24, &w->powerUnits},
                     {26, &w->factoryDefault}};
    for (const Odd &o : odd) {
        *o.field = 2;
        std::string before = Shown(w, o.page);
        Edit(w, o.page, kUp);
        EXPECT_NE(Shown(w, o.page), before) << "page " << o.page;
        *o.field = 0;
    }
    // Enable TAV Tune sets the whole byte.
    w->tuneOpt = 0x50;
    Edit(w, 3, kUp);
    EXPECT_EQ(w->tuneOpt.load(), 1);
    Edit(w, 3, kUp);
    EXPECT_EQ(w->tuneOpt.load(), 0);
    // Item-0-only pages ignore other items.
    w->parItem = 1;
    uint8_t units = w->tempUnits;
    Edit(w, 19, kUp);
    EXPECT_EQ(w->tempUnits.load(), units);
    w->parItem = 0;
    EXPECT_FALSE(SetupExists()); // no toggle saved anything
}

// Each saving page, edited from the defaults and confirmed, writes its line;
// the steps themselves write nothing (pages 0, 16, 21 and 27 also save on "<" ">").
TEST_F(ParamEdit, SavingPagesWriteTheirLine) {
    struct Case {
        int page;
        int action, count;
        const char *line;
    } const cases[] = {
        {0, kDown, 3, "MAXbank: 17"},
        {1, kUp, 1, "FreqSensIn: 1"},
        {2, kUp, 24, "FreqPeriodTime: 250"},
        {3, kDown, 1, "AutoTuneMode: 1"},
        {4, kUp, 2, "AttenuatorTune: 2"},
        {5, kUp, 50, "SWRescAutoTune: 149"},
        {6, kUp, 3, "AutoTuneMaxCicli: 3"},
        {7, kUp, 1, "TUNEenabled: 128"},
        {16, kDown, 25, "OffsetPlot: -25"},
        {18, kUp, 1, "ViewTimeStr: 1"},
        {19, kUp, 1, "TempMode: 1"},
        {20, kUp, 1, "EnablePwrPeak: 1"},
        {21, kDown, 50, "Peak_Time: 2500"},
        {22, kDown, 55, "MaxTemperature: 545"},
        {23, kDown, 1, "MaxTemperature2: 600"},
        {24, kUp, 1, "PowerUnits: 1"},
        {25, kUp, 4, "SaveScreenIdx: 4"},
        {27, kUp, 7, "BTN_longpress_Time: 12"},
    };
    for (const Case &c : cases) {
        TestUnit fresh;
        Works *f = fresh.w();
        unlink(SetupPath().c_str());
        bool savesOnGroupKeys = c.page == 0 || c.page == 16 || c.page == 21 || c.page == 27;
        for (int i = 0; i < c.count; i++)
            Edit(f, c.page, c.action);
        EXPECT_EQ(SetupExists(), false) << "page " << c.page << " saved on a step";
        if (savesOnGroupKeys) {
            Edit(f, c.page, kNext);
            EXPECT_TRUE(SetupExists()) << "page " << c.page;
            unlink(SetupPath().c_str());
        }
        Edit(f, c.page, kConfirm);
        std::string text = ReadWholeFile(SetupPath());
        EXPECT_NE(text.find(std::string("\n") + c.line + "\n"), std::string::npos)
            << "page " << c.page << " wrote:\n"
            << text;
        // The file reads back to the edited value.
        char a[32], b[32];
        LoadParameterMenu(f, a, c.page, 0);
        TestUnit back;
        readSetup(back.w());
        LoadParameterMenu(back.w(), b, c.page, 0);
        EXPECT_STREQ(a, b) << "page " << c.page;
    }
    // Pages 1 and 2 also send the frequency-sense setting.
    Edit(w, 1, kConfirm);
    EXPECT_EQ(Queued(), std::vector<int>({12}));
    Edit(w, 2, kConfirm);
    EXPECT_EQ(Queued(), std::vector<int>({12}));
    // The plot pages keep their values in memory only.
    unlink(SetupPath().c_str());
    for (int page : {13, 14, 15})
        for (int action : {kUp, kConfirm, kNext})
            Edit(w, page, action);
    EXPECT_FALSE(SetupExists());
}

TEST_F(ParamEdit, NetworkPagesEditAndSave) {
    WriteWholeFile(root.Path("/etc/network/interfaces"),
                   "iface eth0 inet static\naddress 192.168.1.255\nnetmask 255.255.255.0\n"
                   "gateway \n");
    ASSERT_EQ(ReadLanParam(), 0);
    CntIP = 3, CntGateway = 3;
    Edit(w, 9, kUp); // 255 wraps to 0
    Edit(w, 9, kPrev);
    Edit(w, 9, kDown); // group 2: 1 -> 0
    EXPECT_EQ(CntIP, 2);
    for (int i = 0; i < 4; i++)
        Edit(w, 11, kNext); // round to group 3 again
    Edit(w, 11, kUp);       // the operator sets a gateway where the file had none
    EXPECT_EQ(Gateway_none, 0);
    EXPECT_EQ(Edit(w, 9, kConfirm), 0);
    EXPECT_EQ(ReadWholeFile(root.Path("/etc/network/interfaces")),
              "iface eth0 inet static\naddress 192.168.0.0\nnetmask 255.255.255.0\n"
              "gateway 0.0.0.1\n");
    auto cmds = SimCommands(root.root);
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back(), "sudo ifup --exclude=lo -a");
}

TEST_F(ParamEdit, MemoryTableCells) {
    InitTabAntenna(w, 0);
    w->memRow = 2;
    AntennaRow &r = w->antTab[2];
    // Cell values in column order: pwr, att, ampEnable, ant, atuOff.
    auto cell = [&](int col) -> double {
        const double v[5] = {r.pwr, double(r.att), double(r.ampEnable), double(r.ant),
                             double(r.atuOff)};
        return v[col];
    };
    auto set = [&](int col, double v) {
        if (col == 0) r.pwr = float(v);
        uint8_t *bytes[5] = {nullptr, &r.att, &r.ampEnable, &r.ant, &r.atuOff};
        if (col > 0) *bytes[col] = uint8_t(v);
    };
    struct Case {
        int col, down;
        double from, to;
    } const cases[] = {
        {3, 0, 3, 1}, {3, 1, 1, 3}, {3, 0, 0, 1}, {1, 0, 3, 0},     {1, 1, 0, 0},
        {1, 1, 2, 1}, {2, 1, 0, 1}, {4, 0, 1, 0}, {0, 0, 10, 10.1}, {0, 1, 0, 0},
    };
    for (const Case &c : cases) {
        set(c.col, c.from);
        w->memCol = c.col;
        ModifytabAntenna(w, c.down);
        EXPECT_NEAR(cell(c.col), c.to, 1e-5) << "column " << c.col << " from " << c.from;
    }
    // Outside the table nothing changes.
    r.ant = 2;
    w->memCol = 3;
    w->memRows = 2;
    ModifytabAntenna(w, 0);
    w->memRows = 0;
    w->memRow = 0;
    ModifytabAntenna(w, 0);
    EXPECT_EQ(r.ant, 2);
    EXPECT_EQ(w->antTab[0].ant, 1);
}

TEST_F(ParamEdit, FactoryResetDeletesBanksAndWritesDefaults) {
    std::vector<std::string> files;
    for (int bank : {0, 1, 7, 19}) {
        files.push_back(BankAntennaFile(bank));
        for (int ant = 1; ant <= 3; ant++)
            files.push_back(BankAtuFile(bank, ant));
    }
    for (const std::string &f : files)
        WriteWholeFile(root.Path(f), f == BankAtuFile(7, 1)
                                         ? "3117 14070000 1 1 42 118\n"
                                         : "!Tav\n20m 14000000 14350000 1 2 0 1 50.0\n");
    w->numBanco = 7;
    LoadAllBankTable(w, 7);
    ASSERT_EQ(w->memRows.load(), 1);
    w->maxBank = 9;
    TIME_LONG_PRESS = 2.0;
    w->wsSocket = 42; // the run's own state survives
    w->powerClass = '1';
    w->errSuspend = 0;
    number_ofStep_meter_FWD = 120; // the 1 kW board's meter, from its EEPROM
    w->audioFrame = 960;
    w->setup->EnableSpectrum = '0';
    w->tuneBand = 5;

    Edit(w, 26, kConfirm); // "No Default": nothing
    EXPECT_EQ(access(root.Path(files[0]).c_str(), F_OK), 0);
    Edit(w, 26, kUp);
    ASSERT_EQ(w->factoryDefault.load(), 1);
    Edit(w, 26, kConfirm);

    for (const std::string &f : files)
        EXPECT_NE(access(root.Path(f).c_str(), F_OK), 0) << f << " still there";
    std::string text = ReadWholeFile(SetupPath());
    EXPECT_NE(text.find("\nMAXbank: 20\n"), std::string::npos) << text;
    EXPECT_EQ(w->factoryDefault.load(), 0);
    EXPECT_EQ(w->maxBank.load(), 20);
    EXPECT_DOUBLE_EQ(TIME_LONG_PRESS, 0.5);
    // The current bank's working tables come from disk again: the defaults.
    EXPECT_EQ(w->numBanco.load(), 1);
    EXPECT_EQ(w->memRows.load(), kAntRows);
    EXPECT_STREQ(w->antTab[0].name, "160m");
    EXPECT_EQ(w->antTab[0].ampEnable, 0);
    EXPECT_EQ(w->tuneMem[0][3117].valid, 0);
    EXPECT_EQ(w->bandRow.load(), -1);
    EXPECT_EQ(w->ModeWorkIdx.load(), 0);
    EXPECT_EQ(w->wsSocket.load(), 42);
    EXPECT_EQ(w->powerClass.load(), '1');
    EXPECT_EQ(w->errSuspend.load(), 0);
    EXPECT_EQ(number_ofStep_meter_FWD, 120);
    EXPECT_EQ(w->audioFrame.load(), 960);
    EXPECT_EQ(w->setup->EnableSpectrum.load(), '0');
    EXPECT_EQ(w->tuneBand.load(), 5);
    // One write window for the whole reset.
    auto cmds = SimCommands(root.root);
    EXPECT_EQ(
        std::count_if(cmds.begin(), cmds.end(),
                      [](const std::string &c) { return c.rfind("mount -o remount", 0) == 0; }),
        1);
    // The file is exactly what a unit with the defaults writes.
    TestUnit defaults;
    char expected[4096];
    size_t len = 0;
    FormatSetupFile(defaults.w(), expected, sizeof expected, &len);
    EXPECT_EQ(text, std::string(expected, len));
}

TEST_F(ParamEdit, ServicePages) {
    for (int action : {kConfirm, kDown, kUp, kPrev, kNext}) {
        w->tinyCmdOut = 255;
        Edit(w, 28, action);
        EXPECT_EQ(w->tinyCmdOut.load(), 0x85) << action;
    }
    Edit(w, 29, kConfirm); // off: nothing
    Edit(w, 29, kUp);
    testing::internal::CaptureStderr();
    Edit(w, 29, kConfirm);
    Edit(w, 30, kUp);
    Edit(w, 30, kConfirm);
    Edit(w, 31, kUp);
    Edit(w, 31, kConfirm);
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "Start AGGFW\nStart AGG UI...\nlaunching ssh\nlaunched screenshot\nStart REMOTE SRV\n");
    EXPECT_EQ(Queued(), std::vector<int>({30}));
    auto cmds = SimCommands(root.root);
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ(cmds[cmds.size() - 2], "getpack.sh ");
    EXPECT_EQ(cmds.back(), "sshshell ");
}

TEST_F(ParamEdit, RemoteSwitch) {
    w->remoteOn = 1;
    Edit(w, 8, kPrev);
    EXPECT_EQ(w->remoteOn.load(), 0);
    w->setup->EnableFFT = '1';
    Edit(w, 8, kUp);
    EXPECT_EQ(w->remoteOn.load(), 1);
    // Without the transceiver, its sound device or the serial link: errors, off.
    w->remoteOn = 0;
    w->setup->EnableFFT = '0';
    w->setup->EnableSerial = '0';
    w->errSuspend = 0;
    testing::internal::CaptureStderr();
    Edit(w, 8, kDown);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("j=0 i=1 enaser=0\n"), std::string::npos) << err;
    EXPECT_EQ(w->remoteOn.load(), 0);
    EXPECT_EQ(w->remoteFault.load(), 1);
    for (int code : {5, 6, 7})
        EXPECT_TRUE(ExistError(w, code)) << code;
    EXPECT_TRUE(Queued().empty());
}

TEST(ParamEditScreen, FilterPageOpensAndCloses) {
    ScreenUnit u;
    Works *w = u.w();
    w->viewType = 2;
    Edit(w, 17, kUp);
    Edit(w, 17, kConfirm);
    EXPECT_EQ(w->screenFlags.load() & 4, 4);
    EXPECT_STREQ(w->imageName, "statusB");
    Edit(w, 17, kDown);
    Edit(w, 17, kConfirm);
    EXPECT_EQ(w->screenFlags.load() & 4, 0);
    EXPECT_STREQ(w->imageName, "img3");
}

} // namespace
