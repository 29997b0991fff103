// The menu model, label writers, value texts and the status readers.
#include "screenshot.h"
#include "unit.h"

#include "model/errors.h"
#include "display/ttf.h"
#include "supervisor/meters.h"
#include "config/network.h"
#include "ui/error_draw.h"
#include "ui/menu.h"
#include "ui/parameters.h"
#include "ui/status.h"
#include "ui/view.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Label(int menu, int key, int line) {
    return KeyLabel(menu, key, line);
}

int CountLines(const std::string &text, const std::string &prefix) {
    int n = 0;
    size_t pos = 0;
    while ((pos = text.find(prefix, pos)) != std::string::npos) {
        n++;
        pos += prefix.size();
    }
    return n;
}

TEST(MenuTables, PagesAndLabelsAsWritten) {
    TestUnit u;
    Works *w = u.w();
    w->numBanco = 3;
    w->attenuator = 2;
    w->antenna = 1;
    w->saveAnt = 2;
    InitMenuNova(w);
    EXPECT_EQ(w->parPages.load(), 33);

    const int ids[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                         17, 18, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 96, 97, 98, 99};
    for (int p = 0; p < 32; p++) {
        SCOPED_TRACE(p);
        EXPECT_EQ(menuPar[p].id, ids[p]);
        EXPECT_EQ(menuPar[p].itemCount, 1);
        EXPECT_EQ(menuPar[p].item[0].noEdit, 0);
        EXPECT_EQ(menuPar[p].item[0].digitEdit, p >= 9 && p <= 12 ? 1 : 0);
        EXPECT_EQ(menuPar[p].item[1].caption[0], '\0');
    }
    // Page 25's title fills its 20 bytes: no terminator.
    EXPECT_EQ(std::memcmp(menuPar[25].title, "SCREEN SAVER TIMEOUT", 20), 0);
    EXPECT_EQ(std::string(menuPar[22].item[0].caption), " SET POINT");
    EXPECT_EQ(Novamenu[0].flags, 0x21);
    EXPECT_EQ(Novamenu[4].flags, 0x01);
    EXPECT_EQ(Label(2, 4, 1), "      - "); // blanks are part of the labels
    EXPECT_EQ(Label(13, 1, 1), " BACK ");  // the fault history
    EXPECT_EQ(Label(14, 1, 1), "");
    // The cells written at run time start from the state.
    EXPECT_EQ(Label(0, 1, 2), "BANK 3");
    EXPECT_EQ(Label(0, 2, 2), "3dB");
    EXPECT_EQ(Label(0, 3, 2), "2");
    EXPECT_EQ(Label(8, 3, 2), "     3");
    EXPECT_EQ(std::string(w->errTab[19].title), "Band warn");
}

struct Writers : ::testing::Test {
    ScreenUnit u;
    Works *w = &u.works;
    TavParams tav{};
    void SetUp() override {
        InitMenuNova(w);
        w->errSuspend = 0;
    }
    void Bar(int menu) {
        w->menuIdx = menu;
        LoadButtons(w, tav);
    }
};

TEST_F(Writers, FollowTheStateOnlyInTheirMenu) {
    w->numBanco = 0;
    w->antenna = 2;
    w->attenuator = 1;
    w->boardStatus[0] = 0x04; // the 2 dB pad in force
    w->bypass = 0;
    w->viewType = 3;
    Bar(0);
    EXPECT_EQ(Label(0, 1, 2), "BANK0");
    EXPECT_EQ(Label(0, 2, 2), "  2dB");
    EXPECT_EQ(Label(0, 3, 2), "     3");
    EXPECT_EQ(Label(0, 6, 2), "    3");
    w->bypass = 1;
    Bar(0);
    EXPECT_EQ(Label(0, 2, 2), "  StBy");
    // The pads the board reports, whatever the unit asked for (a
    // protection's 5 dB).
    w->bypass = 0;
    w->boardStatus[0] = 0x0C;
    Bar(0);
    EXPECT_EQ(Label(0, 2, 2), "  5dB");

    // A writer outside its menu leaves its cells alone.
    w->saveBank = 7;
    Bar(0);
    EXPECT_EQ(Label(8, 2, 2), "   0");
    Bar(8);
    EXPECT_EQ(Label(8, 2, 2), "   7");

    w->tuneEnabled = static_cast<int8_t>(0x80);
    Bar(3);
    EXPECT_EQ(Label(3, 4, 2), "NotInst");
    w->tuneEnabled = 0;
    w->tuneState = 1;
    w->tunerThrough = 1;
    Bar(3);
    EXPECT_EQ(Label(3, 4, 2), "    On");
    EXPECT_EQ(Label(3, 5, 2), "   Bpy");

    w->tunerWord = 1u << 16;
    Bar(4);
    EXPECT_EQ(Label(4, 1, 2), "ByP");

    w->ModeWorkIdx = -1; // not set yet: the cell keeps what it had
    Bar(6);
    EXPECT_EQ(Label(6, 2, 2), "");
    w->ModeWorkIdx = 2;
    Bar(6);
    EXPECT_EQ(Label(6, 2, 2), " FT-817");

    w->maxBank = 20;
    w->resetBank = 20;
    Bar(11);
    EXPECT_EQ(Label(11, 2, 2), "  ALL");
    w->resetBank = 5;
    Bar(11);
    EXPECT_EQ(Label(11, 2, 2), "    5");
}

// Key 1 turns into "RESET" / " Error " for any code but the temperature alarms.
TEST_F(Writers, KeyOneFollowsTheErrorList) {
    // Key 1 above its underline: x 0-129, rows 421-477.
    auto KeyOne = [&]() {
        std::vector<uint8_t> px;
        for (int y = 421; y < 478; y++)
            px.insert(px.end(), w->fb.workMem + y * w->fb.lineSize,
                      w->fb.workMem + y * w->fb.lineSize + 130 * 4);
        return px;
    };
    Bar(0);
    auto plain = KeyOne();
    for (int code : {2, 22, 23, 24})
        AddErrore(w, code);
    EXPECT_EQ(VerifyError(w), 0);
    Bar(0);
    EXPECT_EQ(KeyOne(), plain);
    AddErrore(w, 4);
    Bar(0);
    auto reset = KeyOne();

    // The same key drawn by hand: grey, then the reset texts in the key's places.
    for (int y = 421; y < 478; y++)
        for (int x = 0; x < 130; x++) {
            uint8_t *p = w->fb.workMem + y * w->fb.lineSize + x * 4;
            p[0] = p[1] = p[2] = 40;
        }
    putString(0, 20, 445, "RESET", 250, 150, 0, &w->fb, 0, 0, 0, 0);
    putString(1, 30, 472, " Error ", 250, 150, 0, &w->fb, 0, 0, 0, 0);
    EXPECT_NE(reset, plain);
    EXPECT_EQ(reset, KeyOne());
}

TEST_F(Writers, DigitKeysAndEnterBlankedByThePage) {
    auto Region = [&](int x0, int x1) {
        std::vector<uint8_t> px;
        for (int y = 421; y < 478; y++)
            px.insert(px.end(), w->fb.workMem + y * w->fb.lineSize + x0 * 4,
                      w->fb.workMem + y * w->fb.lineSize + x1 * 4);
        return px;
    };
    auto Grey = [&](int x0, int x1) {
        auto r = Region(x0, x1);
        return std::all_of(r.begin(), r.end(),
                           [i = 0](uint8_t b) mutable { return (i++ % 4 == 3) || b == 40; });
    };
    w->parPage = 0; // MAX BANK: no digit keys
    Bar(2);
    EXPECT_TRUE(Grey(134, 263));
    EXPECT_TRUE(Grey(267, 396));
    w->parPage = 9; // IP
    Bar(2);
    EXPECT_FALSE(Grey(134, 263));
    EXPECT_FALSE(Grey(267, 396));
    menuPar[3].item[0].noEdit = 1;
    w->parPage = 3;
    Bar(1);
    EXPECT_TRUE(Grey(666, 799));
    menuPar[3].item[0].noEdit = 0;
    Bar(1);
    EXPECT_FALSE(Grey(666, 799));
}

TEST(ParameterValues, EveryPageFromTheState) {
    TestUnit u;
    Works *w = u.w();
    InitMenuNova(w);
    w->maxBank = 12;
    w->fsMode = 1;
    w->fsValue = 250;
    w->tuneOpt = 1;
    w->attenuatorTune = 3;
    w->swrTarget = 1.5f;
    w->swrTimeoutIdx = 4;
    w->tuneEnabled = static_cast<int8_t>(0x80);
    w->remoteOn = 1;
    const uint8_t ip[4] = {192, 168, 1, 50}, mask[4] = {255, 255, 255, 0};
    std::memcpy(IP_v, ip, 4);
    std::memcpy(NetMask_v, mask, 4);
    std::memset(Gateway_v, 0, 4);
    std::memcpy(DNS_v, ip, 4);
    RefLevel = -110;
    RefPos = 3;
    PointDiv = 5;
    w->offsetPlot = 1.25;
    w->filterView = 1;
    w->viewTimeStr = 0;
    w->tempUnits = 1;
    w->auxFwdEnable = 1;
    TimerPeakSec = 1500;
    w->tempMax1 = 60.0f;
    w->tempMax2 = 72.5f;
    w->powerUnits = 1;
    w->saveScreenIdx = 4;
    w->factoryDefault = 0;
    TIME_LONG_PRESS = 0.8;
    w->linkFlags = 0x08;
    // clang-format off
    const char *want[32] = {
        "12", "FQ2", "250", "On", "5dB", "1.50", "5sec", "No", "Remote",
        "192.168.1.50", "255.255.255.0", "0.0.0.0", "192.168.1.50",
        "-110", "3", "5", "1.25", "ON", "OFF", "Fahrenheit", "ON", "1500", "60.00", "72.50",
        "dBm", "60min", "No Default", "0.8 sec", "OFF", "OFF", "ON", "OFF"};
    // clang-format on
    char out[32];
    for (int p = 0; p < 32; p++) {
        LoadParameterMenu(w, out, p, 0);
        EXPECT_STREQ(out, want[p]) << "page " << p;
    }
    // Item-0 pages have no text for another item; the others keep theirs.
    for (int p : {8, 19, 20, 24, 25, 26, 28, 29, 30, 31}) {
        LoadParameterMenu(w, out, p, 1);
        EXPECT_STREQ(out, "") << "page " << p;
    }
    LoadParameterMenu(w, out, 22, 1);
    EXPECT_STREQ(out, "60.00");
    // Indices read from files that name nothing show "-", never a read past a table.
    w->saveScreenIdx = 200;
    w->swrTimeoutIdx = 5;
    w->attenuatorTune = 77;
    for (auto [page, text] : {std::pair{25, "-"}, {6, "-"}, {4, "-dB"}}) {
        LoadParameterMenu(w, out, page, 0);
        EXPECT_STREQ(out, text) << "page " << page;
    }
    // A network cursor out of range points at the last group.
    CntIP = 9;
    const uint8_t *bytes;
    int group;
    LanPage(9, &bytes, &group);
    EXPECT_EQ(group, 3);
    EXPECT_EQ(bytes, IP_v);
    CntIP = 3;
    RefPos = 0;
    PointDiv = 10;
}

TEST(InfoBar, FiguresAndBands) {
    TestUnit u;
    Works *w = u.w();
    char buf[96];
    // ADC byte 255: 3.3 x 348 / 18 on the higher class, 3.3 x 118 / 18 on the lower.
    w->powerClass = '1';
    EXPECT_NEAR(CalvTensVadcAmp(w, 255), 63.8, 0.01);
    w->tinyData[3] = 255;
    w->rawAux = 4096.0f;
    InfoSupplyText(w, buf, sizeof buf);
    EXPECT_STREQ(buf, "PA Voltage: 63.8V       Current: 14.1A");
    w->powerClass = '0';
    EXPECT_NEAR(CalvTensVadcAmp(w, 255), 21.63, 0.01);
    InfoSupplyText(w, buf, sizeof buf);
    EXPECT_STREQ(buf, "PA Voltage: -----       Current: 14.1A");
    w->tinyData[3] = 235; // 19.9 V: a real reading on the lower class
    InfoSupplyText(w, buf, sizeof buf);
    EXPECT_STREQ(buf, "PA Voltage: 19.9V       Current: 14.1A");

    EXPECT_FLOAT_EQ(ConversionCelsius_to_Fahrenheit(100.0f), 212.0f);
    EXPECT_FLOAT_EQ(ConversionCelsius_to_Fahrenheit(-40.0f), -40.0f);

    // NOPA covers 26 to 28 MHz, both edges included.
    w->memRows = 3;
    w->antTab[0] = {"10m", 25000000, 29700000, 1, 1, 0, 0, 100.0f};
    w->antTab[1] = {"20m", 14000000, 14350000, 1, 1, 0, 0, 100.0f};
    w->antTab[2] = {"20mB", 14100000, 14200000, 1, 2, 0, 0, 100.0f};
    for (auto [f, text] : {std::pair{26000000, "NOPA"},
                           {28000000, "NOPA"},
                           {25999999, "Band:10m"},
                           {28000001, "Band:10m"},
                           {14150000, "Band:20mB"}, // the later of two matching rows
                           {14050000, "Band:20m"},
                           {7100000, "Band:---"}}) {
        w->freq = f;
        InfoBandText(w, buf, sizeof buf);
        EXPECT_STREQ(buf, text) << f;
    }
    // Rows past memRows are not bands; a count past the table stops at its end.
    w->memRows = 1;
    w->freq = 14150000;
    InfoBandText(w, buf, sizeof buf);
    EXPECT_STREQ(buf, "Band:---");
    w->memRows = 1000;
    InfoBandText(w, buf, sizeof buf);
    EXPECT_STREQ(buf, "Band:20mB");
}

struct Readers : ::testing::Test {
    ScopedSimRoot root;
    TestUnit u;
    Works *w = u.w();
    void Script(const std::string &name, const std::string &body) {
        WriteWholeFile(root.Path("/bin/" + name),
                       "#!/bin/sh\necho \"" + name + "\" >> \"$HELIX_ROOT/commands.log\"\n" + body);
        chmod(root.Path("/bin/" + name).c_str(), 0755);
    }
    int Runs(const std::string &name) {
        return CountLines(ReadWholeFile(root.Path("/commands.log")), name + "\n") +
               CountLines(ReadWholeFile(root.Path("/commands.log")), name + " \n");
    }
};

TEST_F(Readers, CpuTemperatureOnceASecondKeepingTheLastValues) {
    Script("my_temp", "echo 47.5\necho \"temp=51.2'C\"\n");
    ReadCPUTemp(w, 10000);
    EXPECT_FLOAT_EQ(w->cpuTemp.load(), 47.5f);
    EXPECT_FLOAT_EQ(w->gpuTemp.load(), 51.2f);
    Script("my_temp", "echo 60.0\necho \"temp=61.0'C\"\n");
    ReadCPUTemp(w, 10500);
    ReadCPUTemp(w, 10999);
    EXPECT_EQ(Runs("my_temp"), 1);
    EXPECT_FLOAT_EQ(w->cpuTemp.load(), 47.5f);
    ReadCPUTemp(w, 11000);
    EXPECT_EQ(Runs("my_temp"), 2);
    EXPECT_FLOAT_EQ(w->cpuTemp.load(), 60.0f);
    EXPECT_FLOAT_EQ(w->gpuTemp.load(), 61.0f);

    // A command that gives nothing keeps the figures and is reported once.
    unlink(root.Path("/bin/my_temp").c_str());
    testing::internal::CaptureStderr();
    for (uint64_t t = 12000; t <= 15000; t += 1000)
        ReadCPUTemp(w, t);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(CountLines(err, "my_temp: no reading"), 1) << err;
    EXPECT_FLOAT_EQ(w->cpuTemp.load(), 60.0f);
    EXPECT_EQ(w->running.load(), 1);

    // A line longer than 31 characters is read in pieces, as fgets does.
    std::string longFirst = std::string(30, '7') + "temp=45.5'";
    EXPECT_EQ(ParseCpuTemp(w, "4" + longFirst + "\ntemp=12.5'C\n"), 2);
    EXPECT_FLOAT_EQ(w->gpuTemp.load(), 45.5f);
    // No temperature at all (nan, a 7-digit number): 0, not a figure.
    EXPECT_EQ(ParseCpuTemp(w, "nan\ntemp=7777777'C\n"), 2);
    EXPECT_FLOAT_EQ(w->cpuTemp.load(), 0.0f);
    EXPECT_FLOAT_EQ(w->gpuTemp.load(), 0.0f);
}

TEST_F(Readers, AudioProbeAndClock) {
    WriteWholeFile(root.Path("/lsusb.txt"),
                   "Bus 001 Device 004: ID 0d8c:01af C-Media\nBus 001 Device 002: ID 1721:061a\n"
                   "Bus 001 Device 005: ID 0d8c:0014 C-Media\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Get_AudioTAV(w, 5000), 2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("----------------- Bus 001 Device 004: ID 0d8c:01af C-Media"),
              std::string::npos);
    unlink(root.Path("/lsusb.txt").c_str());
    EXPECT_EQ(Get_AudioTAV(w, 5900), 2); // the last count within the second
    EXPECT_EQ(Runs("lsusb"), 1);
    EXPECT_EQ(Get_AudioTAV(w, 6000), 0);
    EXPECT_EQ(Runs("lsusb"), 2);

    const char *tz = std::getenv("TZ");
    std::string oldTz = tz ? tz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    ReadDataOra(w, 86400 + 3661);
    EXPECT_STREQ(w->dateTime, "1970-01-02 01:01:01");
    std::strcpy(w->dateTime, "same second");
    ReadDataOra(w, 86400 + 3661);
    EXPECT_STREQ(w->dateTime, "same second");
    ReadDataOra(w, 86400 + 3662);
    EXPECT_STREQ(w->dateTime, "1970-01-02 01:01:02");
    if (tz)
        setenv("TZ", oldTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(Views, BackgroundOfTheViewAndLeavingTheStatusPage) {
    ScreenUnit u;
    Works *w = &u.works;
    struct Case {
        int view;
        char cls;
        const char *image;
    } cases[] = {
        {1, '0', "img1"}, {2, '1', "img3b"}, {3, '1', "img1b"}, {5, '0', "m5a"}, {9, '0', "img1"}};
    for (const Case &c : cases) {
        w->viewType = c.view;
        w->powerClass = c.cls;
        SetWorkImg(w);
        EXPECT_STREQ(w->imageName, c.image) << c.view << c.cls;
    }
    w->viewType = 5;
    SetWorkImg(w);
    EXPECT_EQ(divX, 8);
    EXPECT_EQ(w->spanHz.load(), 80000);
    EXPECT_EQ(xRangeEnd, 427);
    w->viewType = 4;
    SetWorkImg(w);
    EXPECT_EQ(divX, 16);
    EXPECT_EQ(w->spanHz.load(), 160000);
    EXPECT_EQ(xRangeEnd, 854);
    // The background is in both buffers.
    EXPECT_EQ(std::memcmp(w->fb.backMem, w->fb.workMem, w->fb.memSize), 0);

    // The TAV switch drops outside TAV mode only.
    w->setup->EnableSerial = '1';
    w->ModeWorkIdx = 1;
    SetWorkImg(w);
    EXPECT_EQ(w->setup->EnableSerial.load(), '1');
    w->ModeWorkIdx = 2;
    SetWorkImg(w);
    EXPECT_EQ(w->setup->EnableSerial.load(), '0');

    w->screenFlags = 2;
    EXPECT_EQ(EscFromStatus(w), 0);
    EXPECT_EQ(w->screenFlags.load(), 2);
    w->screenFlags = 3;
    std::snprintf(w->imageName, sizeof w->imageName, "status");
    EXPECT_EQ(EscFromStatus(w), 1);
    EXPECT_EQ(w->screenFlags.load(), 2);
    EXPECT_STREQ(w->imageName, "m5a");
}

// The status page starts the TAV link only in TAV mode; elsewhere its port
// may be missing (the link would end the program) or be the FT-817's.
TEST(StatusPage, TavLinkOnlyInTavMode) {
    ScreenUnit u;
    Works *w = &u.works;
    InitMenuNova(w);
    w->screenFlags = 1;
    for (int mode : {-1, 0, 2}) {
        w->ModeWorkIdx = mode;
        w->setup->EnableSerial = '0';
        ViewStatusInfo(w, TavParams{});
        EXPECT_EQ(w->setup->EnableSerial.load(), '0') << mode;
    }
    EXPECT_EQ(w->running.load(), 1);
}

} // namespace
