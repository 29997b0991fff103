// Needle meters and spectrum plot: the scale rules, the number formats, the
// peak hold on a fake clock, and the drawn views against reference pictures.
#include "screenshot.h"
#include "supervisor/meters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

float FullScaleAngle() {
    return static_cast<float>((0.24 - 0.48) * 3.141692653);
}

TEST(MeterScales, SwrPointsPowerTextsAndCaptions) {
    const float swrPoints[][2] = {{1.0f, 0.0f},    {1.25f, 5.5f},   {1.5f, 11.0f}, {3.5f, 33.0f},
                                  {100.0f, 60.0f}, {250.0f, 60.0f}, {0.9f, 0.0f},  {9.5f, 49.0f}};
    for (const auto &p : swrPoints)
        EXPECT_NEAR(CalcolaSWR(p[0]), p[1], 1e-4) << "SWR " << p[0];
    EXPECT_EQ(CalcolaSWR(std::nanf("")), 0.0f);

    TestUnit u;
    char text[32];
    u.works.powerUnits = 1;
    MeterPowerText(&u.works, 0.0005f, text, sizeof text);
    EXPECT_STREQ(text, "---dBm");
    MeterPowerText(&u.works, 0.0f, text, sizeof text);
    EXPECT_STREQ(text, "---dBm");
    MeterPowerText(&u.works, 0.001f, text, sizeof text);
    EXPECT_STREQ(text, "0.0dBm");
    MeterPowerText(&u.works, 100.0f, text, sizeof text);
    EXPECT_STREQ(text, "50.0dBm");
    u.works.powerUnits = 0;
    MeterPowerText(&u.works, 200.0f, text, sizeof text);
    EXPECT_STREQ(text, "200.0W");
    MeterPowerText(&u.works, 3.25f, text, sizeof text);
    EXPECT_STREQ(text, "3.2W");

    const struct {
        int32_t hz;
        const char *text;
    } captions[] = {{14074000, "14.074MHz"},
                    {999999, "999.999kHz"},
                    {1000, "1.000kHz"},
                    {999, "999Hz"},
                    {1000000, "1.000MHz"}};
    for (const auto &c : captions) {
        EXPECT_EQ(FreqCaption(c.hz, text, sizeof text), 1);
        EXPECT_STREQ(text, c.text);
    }
    EXPECT_EQ(FreqCaption(0, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(FreqCaption(-5, text, sizeof text), 0);
}

TEST(MeterScales, GridLayoutAndPointsStayInsideThePlot) {
    InitGrid();
    EXPECT_EQ(r_x, 43);
    EXPECT_EQ(r_y, 17);
    EXPECT_EQ(bound_right, 758);
    EXPECT_EQ(b_bottom, 230);
    // -10 dBm is the top line, -110 the bottom; beyond them the trace is held on the lines.
    EXPECT_FLOAT_EQ(CalculatePoint(-110, -10, 0, -10).y, 60.0f);
    EXPECT_FLOAT_EQ(CalculatePoint(-110, -10, 0, 5).y, 60.0f);
    EXPECT_FLOAT_EQ(CalculatePoint(-110, -10, 0, -110).y, 230.0f);
    EXPECT_FLOAT_EQ(CalculatePoint(-110, -10, 0, -160).y, 230.0f);
    EXPECT_FLOAT_EQ(CalculatePoint(-110, -10, 0, -60).y, 145.0f);
    EXPECT_FLOAT_EQ(CalculatePoint(-110, -10, 0, -60).x, 70.0f);
    EXPECT_FLOAT_EQ(CalculatePoint(-110, -10, 854, -60).x, 758.0f);
}

TEST(MeterPeaks, NeedlesStopAtTheScaleEndAndPeaksHoldThenDecay) {
    ScreenUnit u;
    Works *w = &u.works;
    w->viewType = 1;
    w->powerClass = '0';
    w->auxFwdEnable = 1;
    // The needles stop at the end of the scale, the peak needle as well.
    w->pwrFwd = 200.0f;
    w->pwrFwdAux = 500.0f;
    DrawMeters(w);
    EXPECT_FLOAT_EQ(w->needleAngle1, FullScaleAngle());
    EXPECT_FLOAT_EQ(w->peak[0].val, 60.0f);
    EXPECT_FLOAT_EQ(w->peak[0].angle, FullScaleAngle());

    // A 50 W peak, then 10 W: held 3000 ms of pass time while falling 1.0
    // every second pass, then following the reading 2:1.
    w->peak[0].val = 0.0f;
    w->pwrFwdAux = 50.0f;
    DrawMeters(w);
    EXPECT_FLOAT_EQ(w->peak[0].val, 50.0f);
    EXPECT_EQ(w->peak[0].hold, 3000);
    w->pwrFwdAux = 10.0f;
    for (int pass = 0; pass < 10; pass++) {
        PeakHoldStep(w, 10);
        DrawMeters(w);
    }
    EXPECT_FLOAT_EQ(w->peak[0].val, 45.0f);
    EXPECT_EQ(w->peak[0].hold, 2900);

    // The hold counts time, not passes: three passes of a second use it up.
    PeakDecrement = 0.0;
    for (int pass = 0; pass < 2; pass++) {
        PeakHoldStep(w, 1000);
        DrawMeters(w);
    }
    EXPECT_FLOAT_EQ(w->peak[0].val, 45.0f);
    PeakHoldStep(w, 1000);
    EXPECT_LE(w->peak[0].hold, 0);
    DrawMeters(w);
    EXPECT_FLOAT_EQ(w->peak[0].val, (2 * 45.0f + 10.0f) / 3);
    // A new maximum holds again.
    w->pwrFwdAux = 55.0f;
    DrawMeters(w);
    EXPECT_FLOAT_EQ(w->peak[0].val, 55.0f);
    EXPECT_EQ(w->peak[0].hold, 3000);

    // Switched off, the peaks do not move.
    w->auxFwdEnable = 0;
    w->pwrFwdAux = 0.0f;
    w->pwrRefl = 0.0f;
    float right = w->peak[1].val;
    DrawMeters(w);
    EXPECT_FLOAT_EQ(w->peak[0].val, 55.0f);
    EXPECT_FLOAT_EQ(w->peak[1].val, right);
}

// Two passes so that the peak needles stand apart from the value needles.
void TwoMeterPasses(Works *w) {
    DrawMeters(w);
    w->pwrFwd = 35.2f;
    w->pwrRefl = 2.0f;
    w->swr = 1.8f;
    w->pwrIn = 4.2f;
    PeakHoldStep(w, 10);
    fbSetBack(&w->fb);
    DrawMeters(w);
}

void MeterScreen(int view, const char *image, int units, const char *ref) {
    ScreenUnit u;
    Works *w = &u.works;
    InitGrid();
    u.Background(image);
    w->viewType = view;
    w->powerClass = '0';
    w->powerUnits = static_cast<uint8_t>(units);
    w->auxFwdEnable = 1;
    w->freq = 14074000;
    w->pwrFwd = 47.0f;
    w->pwrFwdAux = 47.0f;
    w->pwrRefl = 6.0f;
    w->swr = 2.5f;
    w->pwrIn = 5.5f;
    TwoMeterPasses(w);
    EXPECT_TRUE(MatchesReference(w->fb, ref));
}

TEST(MeterScreens, Views1To3WithNeedlesAndPeaks) {
    MeterScreen(1, "img1", 0, "meters_view1");
    MeterScreen(2, "img3", 0, "meters_view2");
    MeterScreen(3, "img1", 1, "meters_view3_dbm");
}

void PlotScreen(int view, const char *ref) {
    ScreenUnit u;
    Works *w = &u.works;
    InitGrid();
    u.Background("m5a");
    w->viewType = view;
    divX = view == 5 ? 8 : 16;
    w->spanHz = view == 5 ? 80000 : 160000;
    xRangeEnd = view == 5 ? 427 : 854;
    w->freq = 14074000;
    // A noise floor with a few carriers and a wide signal.
    float levels[kPlotLevels];
    for (int i = 0; i < kPlotLevels; i++) {
        float noise = static_cast<float>((i * 7919) % 13) * 0.6f;
        float level = -104.0f + noise;
        const float carriers[][3] = {{300, -38, 2}, {420, -55, 6}, {470, -72, 1.5f}, {640, -30, 3}};
        for (const auto &c : carriers)
            level = std::max(level, c[1] - (i - c[0]) * (i - c[0]) / (2 * c[2] * c[2]));
        levels[i] = level;
    }
    std::memcpy(w->fftRec->buf1, levels, sizeof levels);
    DrawGrid(w);
    EXPECT_TRUE(MatchesReference(w->fb, ref));
    InitGrid();
}

TEST(MeterScreens, Views4And5PlotASpectrum) {
    PlotScreen(4, "plot_view4");
    PlotScreen(5, "plot_view5");
}

TEST(MeterScreens, PlotWithAViewChangedUnderItStaysInsideItsLevels) {
    ScreenUnit u;
    Works *w = &u.works;
    InitGrid();
    u.Background("m5a");
    // The narrow span's division count with the wide span's range (a view
    // change half done by the key thread) must not read past the levels.
    divX = 8;
    xRangeEnd = 854;
    w->viewType = 5;
    DrawGrid(w);
    divX = 3; // nonsense falls back to the full span
    xRangeEnd = 5000;
    DrawGrid(w);
    EXPECT_EQ(bound_right, 758);
    // A full-screen page covers the plot: nothing is drawn.
    w->screenFlags = 1;
    fbSetBack(&w->fb);
    std::vector<uint8_t> before(w->fb.workMem, w->fb.workMem + w->fb.memSize);
    DrawGrid(w);
    EXPECT_EQ(DiffBytes(before.data(), w->fb.workMem, w->fb.memSize), 0u);
    InitGrid();
}

} // namespace
