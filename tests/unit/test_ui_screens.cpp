// Reference screenshots of the operator interface: the soft-key bar of every
// menu, the parameter list, the memory and filter tables, the status page,
// the error boxes, the information bar and the TX marker. Exact comparison.
#include "screenshot.h"

#include "model/tuner_word.h"
#include "model/errors.h"
#include "supervisor/meters.h"
#include "config/network.h"
#include "ui/menu.h"
#include "ui/status.h"

#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

// A picture made of horizontal strips of the work buffer, stacked.
struct Strips {
    std::vector<uint8_t> pixels;
    int rows = 0;
    void Add(const FbScreen &fb, int y0, int y1) {
        for (int y = y0; y < y1; y++, rows++)
            pixels.insert(pixels.end(), fb.workMem + static_cast<size_t>(y) * fb.lineSize,
                          fb.workMem + static_cast<size_t>(y) * fb.lineSize + fb.sizeX * 4);
    }
    FbScreen Screen(const FbScreen &like) {
        FbScreen s = like;
        s.sizeY = rows;
        s.lineSize = static_cast<uint32_t>(like.sizeX) * 4;
        s.workMem = pixels.data();
        return s;
    }
};

bool IsColour(const FbScreen &fb, int x, int y, int r, int g, int b) {
    const uint8_t *p = fb.workMem + static_cast<size_t>(y) * fb.lineSize + x * 4;
    return p[2] == r && p[1] == g && p[0] == b;
}

class UiScreen : public ::testing::Test {
  protected:
    ScreenUnit u;
    Works *w = &u.works;
    TavParams tav{};

    void SetUp() override {
        w->numBanco = 1;
        w->maxBank = 20;
        InitMenuNova(w);
        w->errSuspend = 0;
        // A unit on 20 m with an FT-817, warm and driven.
        w->ModeWorkIdx = 2;
        w->powerClass = '1';
        w->boardOpt = '0';
        w->antenna = 0;
        w->attenuator = 1;
        w->boardStatus[0] = 0x04; // and the board reports its 2 dB pad
        w->bypass = 0;
        w->viewType = 1;
        w->freq = 14070000;
        w->freqMeasured = 14070120;
        w->temp1 = 38.5f;
        w->temp2 = 41.25f;
        w->tinyData[0] = 0x12;
        w->tinyData[1] = 45;
        w->tinyData[2] = 56;
        w->tinyData[3] = 200;
        w->rawAux = 2400.0f;
        w->memRows = 6;
        const AntennaRow rows[6] = {
            {"160m", 1800000, 2000000, 1, 1, 0, 0, 80.0f},
            {"80m", 3500000, 3800000, 1, 1, 0, 1, 90.5f},
            {"40m", 7000000, 7200000, 1, 2, 0, 0, 100.0f},
            {"20m", 14000000, 14350000, 1, 2, 1, 2, 100.0f},
            {"15m", 21000000, 21450000, 0, 3, 0, 3, 60.0f},
            {"10m", 28000000, 29700000, 1, 3, 1, 0, 50.0f},
        };
        std::memcpy(w->antTab, rows, sizeof rows);
        std::snprintf(w->swVersion, sizeof w->swVersion, "0.053");
        std::snprintf(w->boardVersion, sizeof w->boardVersion, "2.14");
        std::snprintf(w->eePage0, sizeof w->eePage0, "HX120-00417");
        std::snprintf(w->eePage1, sizeof w->eePage1, "B2");
        std::snprintf(w->dateTime, sizeof w->dateTime, "2026-12-07 10:15:42");
        // Program-wide values other tests may have changed.
        const uint8_t lan[4][4] = {
            {192, 168, 1, 50}, {255, 255, 255, 0}, {192, 168, 1, 1}, {192, 168, 1, 1}};
        std::memcpy(IP_v, lan[0], 4);
        std::memcpy(NetMask_v, lan[1], 4);
        std::memcpy(Gateway_v, lan[2], 4);
        std::memcpy(DNS_v, lan[3], 4);
        CntIP = CntNetMask = CntGateway = CntDNS = 3;
        IP[0] = NetMask[0] = Gateway[0] = DNS[0] = '\0';
        RefLevel = -110;
        RefPos = 0;
        PointDiv = 10;
    }
    void Draw(int menu, const char *background) {
        w->menuIdx = menu;
        u.Background(background);
        LoadButtons(w, tav);
    }
};

// Every menu's bar, one strip per menu (0 at the top), each over the blank
// page with the state its label writers show.
TEST_F(UiScreen, SoftKeyBarOfEveryMenu) {
    w->tuneL = 211;
    w->tuneC = 87;
    w->tunerWord = 1u << 23; // CL
    w->tuneState = 1;
    w->saveBank = 3;
    w->saveAnt = 1;
    w->copyFrom = 1;
    w->copyTo = 4;
    w->resetBank = 20; // every bank
    w->parPage = 0;    // menu 2 on MAX BANK: no digit keys
    Strips bars;
    for (int menu = 0; menu <= 12; menu++) {
        Draw(menu, "statusB");
        bars.Add(w->fb, 420, 480);
    }
    FbScreen s = bars.Screen(w->fb);
    EXPECT_TRUE(MatchesReference(s, "softkeys_menus_0_12"));
    // Long-press underlines: menu 0 keys 1 and 6, menu 4 key 1 only.
    EXPECT_TRUE(IsColour(s, 60, 58, 250, 150, 0));
    EXPECT_TRUE(IsColour(s, 700, 58, 250, 150, 0));
    EXPECT_TRUE(IsColour(s, 60, 4 * 60 + 58, 250, 150, 0));
    EXPECT_TRUE(IsColour(s, 700, 4 * 60 + 58, 40, 40, 40));
    EXPECT_TRUE(IsColour(s, 60, 1 * 60 + 58, 40, 40, 40));
}

TEST_F(UiScreen, ParameterList) {
    w->parPage = 25; // the 20-character title runs on into its caption
    w->saveScreenIdx = 2;
    Draw(1, "img1");
    EXPECT_TRUE(MatchesReference(w->fb, "params_menu1"));

    CntIP = 2; // editing the third group
    w->parPage = 9;
    Draw(2, "img1");
    EXPECT_TRUE(MatchesReference(w->fb, "params_menu2_ip"));
    CntIP = 3;

    w->parPage = 21;
    TimerPeakSec = 1500;
    Draw(2, "img1");
    EXPECT_TRUE(MatchesReference(w->fb, "params_menu2_release"));
    TimerPeakSec = 3000;
}

TEST_F(UiScreen, MemoryAndFilterTables) {
    w->screenFlags = 2;
    w->memRow = 3;
    w->memCol = 1;
    Draw(7, "statusB");
    EXPECT_TRUE(MatchesReference(w->fb, "memory_table"));

    w->screenFlags = 4;
    const FilterRow filters[8] = {
        {1800000, 2000000, 1},   {3500000, 4000000, 1},   {5300000, 7300000, 1},
        {10100000, 10150000, 0}, {14000000, 14350000, 1}, {18068000, 21450000, 1},
        {24890000, 24990000, 0}, {28000000, 29700000, 1},
    };
    std::memcpy(w->filterTab, filters, sizeof filters);
    w->filterRow = 4;
    Draw(12, "statusB");
    EXPECT_TRUE(MatchesReference(w->fb, "filter_table"));
}

TEST_F(UiScreen, StatusPage) {
    w->screenFlags = 1;
    w->pwrFwd = 98.4f;
    w->pwrRefl = 2.1f;
    w->pwrIn = 4.2f;
    w->swr = 1.34f;
    w->cpuTemp = 47.5f;
    w->gpuTemp = 48.0f;
    w->tempMax1 = 60.0f;
    w->boardStatus[0] = 0x05; // the 2 dB pad in force
    w->boardStatus[1] = 0x01; // transmitting: no TX marker over the status page
    w->retryTotal = 3;
    w->retryStops = 0;
    tav.freqCur = 14070000;
    std::snprintf(IP, sizeof IP, "192.168.1.50");
    std::snprintf(NetMask, sizeof NetMask, "255.255.255.0");
    std::snprintf(Gateway, sizeof Gateway, "192.168.1.1");
    std::snprintf(DNS, sizeof DNS, "192.168.1.1");
    AddErrore(w, 8);
    Draw(0, "status");
    EXPECT_TRUE(MatchesReference(w->fb, "status_page"));
    EXPECT_FALSE(IsColour(w->fb, 400, 190, 250, 0, 0));
    IP[0] = NetMask[0] = Gateway[0] = DNS[0] = '\0';
}

TEST_F(UiScreen, ErrorBoxes) {
    AddErrore(w, 1);                                            // alarm, red
    std::snprintf(w->errDetail, sizeof w->errDetail, "Err SA"); // run-time text
    AddErrore(w, 4);                                            // warning, orange
    AddErrore(w, 22);                                           // alarm, red
    Draw(0, "img1");
    EXPECT_TRUE(MatchesReference(w->fb, "errors_three"));

    // Eight codes: the six newest (entries 2 to 7) fill the six places.
    w->errCount = 0;
    for (int code : {1, 22, 17, 5, 2, 12, 13, 14})
        AddErrore(w, code);
    Draw(0, "img1");
    Strips band;
    band.Add(w->fb, 365, 420);
    EXPECT_TRUE(MatchesReference(band.Screen(w->fb), "errors_six_newest"));
    // Place 0 holds code 17 (a warning), place 2 code 2 (an alarm).
    EXPECT_TRUE(IsColour(w->fb, 100, 372, 250, 150, 0));
    EXPECT_TRUE(IsColour(w->fb, 330, 372, 255, 30, 0));

    // Over a full-screen page no box is drawn.
    w->screenFlags = 4;
    Draw(12, "statusB");
    for (int y : {370, 372, 415})
        EXPECT_EQ(std::memcmp(w->fb.workMem + y * w->fb.lineSize,
                              w->fb.backMem + y * w->fb.lineSize, w->fb.lineSize),
                  0)
            << y;
}

// The information bar in Celsius, in Fahrenheit with a remote fault and a
// held key, and with the debug line, stacked.
TEST_F(UiScreen, InformationBar) {
    Strips bars;
    Draw(0, "img1");
    bars.Add(w->fb, 270, 360);

    w->tempUnits = 1;
    w->remoteOn = 1;
    w->remoteFault = 1;
    w->keyFlags = 1;
    w->bypass = 1;
    w->tunerThrough = 1;
    w->boardStatus[0] = 0x05;
    w->freq = 27000000;
    w->powerClass = '0';
    w->tinyData[3] = 255;
    Draw(0, "img1");
    bars.Add(w->fb, 270, 360);

    w->tempUnits = 0;
    w->tuneDebug = 1;
    w->rawPwr[0] = 12;
    w->rawPwr[1] = 2048;
    w->rawPwr[2] = 96;
    w->swr = 1.52f;
    w->tuneL = 211;
    w->tuneC = 87;
    std::snprintf(ModeTuneDebug, sizeof ModeTuneDebug, "CL");
    Draw(0, "img1");
    bars.Add(w->fb, 270, 360);
    EXPECT_TRUE(MatchesReference(bars.Screen(w->fb), "infobar_c_f_debug"));
}

TEST_F(UiScreen, TxMarker) {
    w->boardStatus[1] = 0x01;
    Draw(0, "img1");
    EXPECT_TRUE(MatchesReference(w->fb, "tx_marker"));
    EXPECT_TRUE(IsColour(w->fb, 376, 176, 250, 0, 0));
    EXPECT_TRUE(IsColour(w->fb, 429, 209, 250, 0, 0));
    EXPECT_FALSE(IsColour(w->fb, 430, 209, 250, 0, 0));
    w->boardStatus[1] = 0;
    Draw(0, "img1");
    EXPECT_FALSE(IsColour(w->fb, 376, 176, 250, 0, 0));
}

// What lies over the bar gives way: nothing while a port error is shown, the
// firmware-update notice instead of the information bar.
TEST_F(UiScreen, NoticesReplaceTheInformationBar) {
    auto SameAsBack = [&](int y0, int y1) {
        for (int y = y0; y < y1; y++)
            if (std::memcmp(w->fb.workMem + y * w->fb.lineSize, w->fb.backMem + y * w->fb.lineSize,
                            w->fb.lineSize) != 0)
                return false;
        return true;
    };
    Draw(0, "img1");
    EXPECT_FALSE(SameAsBack(278, 334));
    w->portError = 1;
    Draw(0, "img1");
    EXPECT_TRUE(SameAsBack(278, 419));
    w->portError = 0;
    w->linkFlags = 4;
    Draw(0, "img1");
    EXPECT_TRUE(SameAsBack(278, 380));
    EXPECT_FALSE(SameAsBack(380, 405));
}

} // namespace
