#include "supervisor/meters.h"

#include "core/works.h"
#include "display/graph.h"
#include "display/ttf.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <pthread.h>

int SchermoWidth = 800, SchermoHeight = 280, divY = 10;
std::atomic<int> divX{16}, xRangeEnd{854};
int borderLeft = 70, borderRight = 40, borderTop = 60, borderBottom = 50;
int xRangeStart = 0, LabelBorder = 4;
std::atomic<int> RefLevel{-110}, RefPos{0}, PointDiv{10};
int r_x = 43, r_y = 17, bound_left = 70, bound_right = 758, b_top = 60, b_bottom = 230;

namespace {

// The pivots of the two meters and the needle geometry.
constexpr int kLeftX = 210, kRightX = 590, kPivotY = 260;
constexpr double kPi = 3.141692653; // the scale's own constant, not quite pi
constexpr double kQuarter = 1.5708463265;

// SWR scale: {SWR, scale position}, ascending.
constexpr float kConvSwr[12][2] = {{1.0f, 0},  {1.5f, 11}, {2.0f, 20},  {3.0f, 30},
                                   {4.0f, 36}, {5.0f, 40}, {6.0f, 43},  {7.0f, 45},
                                   {8.0f, 47}, {9.0f, 48}, {10.0f, 50}, {100.0f, 60}};

// The plot's layout as one pass sees it.
struct Grid {
    int divX, divY;
    int xStart, xEnd;
    int rx, ry, left, right, top, bottom;
    float low, high;
};

float Limit(float v, float lo, float hi) {
    if (!(v >= lo)) return lo; // NaN too
    return v > hi ? hi : v;
}

// A scale of `steps` for a count that may have been set to nonsense.
int Steps(int steps) {
    return steps > 0 ? steps : 60;
}

float Angle(float v, int steps) {
    return static_cast<float>((0.24 - v * 0.48 / Steps(steps)) * kPi);
}

void DrawNeedle(FbScreen *fb, int px, int py, float angle, uint8_t r, uint8_t g, uint8_t b) {
    double t = angle;
    int x = static_cast<int>(px - 200.0 * std::sin(t) + 15.0 * std::cos(t + kQuarter));
    int y = static_cast<int>(py - 200.0 * std::cos(t) + 15.0 * std::sin(t + kQuarter));
    for (int dx = -1; dx <= 1; dx++)
        DrawLine(px + dx, py, x, y, r, g, b, fb, 0);
}

void Text(Works *w, int font, int x, int y, const char *text, int r, int g, int b) {
    putString(font, x, y, text, r, g, b, &w->fb, 0, 0, 0, 0);
}

// The derived layout for the division counts and range of this pass. Counts
// that another thread left out of range fall back to the full-span plot.
Grid PassGrid() {
    Grid g;
    g.divX = divX.load();
    g.divY = divY;
    if (g.divX != 8 && g.divX != 16) g.divX = 16;
    if (g.divY <= 0 || g.divY > 40) g.divY = 10;
    g.xStart = xRangeStart;
    g.xEnd = xRangeEnd.load();
    if (g.xStart < 0 || g.xStart >= kPlotLevels) g.xStart = 0;
    if (g.xEnd <= g.xStart + 1 || g.xEnd > kPlotLevels) g.xEnd = kPlotLevels;
    g.rx = (SchermoWidth - borderLeft - borderRight) / g.divX;
    g.ry = (SchermoHeight - borderTop - borderBottom) / g.divY;
    g.left = borderLeft;
    g.right = g.rx * g.divX + g.left;
    g.top = borderTop;
    g.bottom = g.ry * g.divY + g.top;
    g.high = static_cast<float>(g.divY * PointDiv + RefLevel - RefPos * PointDiv);
    g.low = static_cast<float>(RefLevel - RefPos * PointDiv);
    return g;
}

PlotPoint Point(const Grid &g, float low, float high, int index, float level) {
    float span = high - low;
    if (!(span > 0.0f)) span = 1.0f;
    float y = static_cast<float>(g.bottom) - (level - low) / span * (g.bottom - borderTop);
    y = Limit(y, static_cast<float>(borderTop), static_cast<float>(g.bottom));
    float x = static_cast<float>(g.left) + static_cast<float>(index - g.xStart) /
                                               static_cast<float>(g.xEnd - g.xStart) *
                                               static_cast<float>(g.right - borderLeft);
    return {x, y};
}

// The spectrum levels, copied under the lock that their writer holds.
void CopyLevels(Works *w, float *levels) {
    std::fill(levels, levels + kPlotLevels, -192.0f);
    if (w->fftRec == nullptr || w->fftRec->buf1 == nullptr) return;
    bool locked = w->serMut != nullptr && pthread_mutex_lock(w->serMut) == 0;
    std::memcpy(levels, w->fftRec->buf1, sizeof(float) * kPlotLevels);
    if (locked) pthread_mutex_unlock(w->serMut);
}

} // namespace

void InitGrid() {
    SchermoWidth = 800;
    SchermoHeight = 280;
    divX = 16;
    divY = 10;
    borderLeft = 70;
    borderRight = 40;
    borderTop = 60;
    borderBottom = 50;
    xRangeStart = 0;
    xRangeEnd = 854;
    LabelBorder = 4;
    RefLevel = -110;
    RefPos = 0;
    PointDiv = 10;
    r_x = (SchermoWidth - borderLeft - borderRight) / divX;
    r_y = (SchermoHeight - borderTop - borderBottom) / divY;
    bound_left = borderLeft;
    bound_right = r_x * divX + bound_left;
    b_top = borderTop;
    b_bottom = r_y * divY + b_top;
}

PlotPoint CalculatePoint(float lowLevel, float highLevel, int index, float level) {
    Grid g{};
    g.xStart = xRangeStart;
    const int end = xRangeEnd.load();
    g.xEnd = end != xRangeStart ? end : xRangeStart + 1;
    g.left = bound_left;
    g.right = bound_right;
    g.bottom = b_bottom;
    return Point(g, lowLevel, highLevel, index, level);
}

float ConvertW_to_dBm(float watts) {
    return static_cast<float>(10.0 * std::log10(static_cast<double>(watts) * 1000.0));
}

float CalcolaSWR(float x) {
    if (!(x >= kConvSwr[0][0])) return 0.0f;
    if (x >= kConvSwr[11][0]) return kConvSwr[11][1];
    int i = 1;
    while (i < 11 && kConvSwr[i][0] <= x)
        i++;
    float s0 = kConvSwr[i - 1][0], p0 = kConvSwr[i - 1][1];
    float s1 = kConvSwr[i][0], p1 = kConvSwr[i][1];
    return p0 + (p1 - p0) * (x - s0) / (s1 - s0);
}

void CalcolaPwrPeak(Works *w, float x) {
    float peak = w->peakVal1.load();
    if (x > peak) {
        w->peakHold1 = TimerPeakSec.load();
        w->peakVal1 = x;
    } else if (w->peakHold1.load() <= 0) {
        w->peakVal1 =
            (static_cast<float>(fattoremedia) * peak + x) / static_cast<float>(fattoremedia + 1);
    }
}

void CalcolaPwrPeak2(Works *w, float x) {
    float peak = w->peakVal2.load();
    if (x > peak) {
        w->peakHold2 = TimerPeakSec.load();
        w->peakVal2 = x;
    } else if (w->peakHold2.load() <= 0) {
        w->peakVal2 =
            (static_cast<float>(fattoremedia) * peak + x) / static_cast<float>(fattoremedia + 1);
    }
}

void PeakHoldStep(Works *w, int d) {
    struct Meter {
        Shared<int32_t> &hold;
        Shared<int32_t> &count;
        Shared<float> &val;
    } meters[2] = {{w->peakHold1, w->peakDecCnt1, w->peakVal1},
                   {w->peakHold2, w->peakDecCnt2, w->peakVal2}};
    for (Meter &m : meters) {
        if (m.hold.load() <= 0) continue;
        m.hold = m.hold.load() - d;
        if (m.count.load() < PeakDecrementTime) {
            m.count = m.count.load() + 1;
        } else {
            float v = m.val.load() - static_cast<float>(PeakDecrement);
            m.val = v > 0.0f ? v : 0.0f;
            m.count = 0;
        }
    }
}

void MeterPowerText(Works *w, float watts, char *out, size_t cap) {
    if (w->powerUnits.load() == 1) {
        float dbm = ConvertW_to_dBm(watts);
        if (dbm >= 0.0f)
            std::snprintf(out, cap, "%02.01fdBm", static_cast<double>(dbm));
        else
            std::snprintf(out, cap, "---dBm"); // below 1 mW (or no reading at all)
    } else {
        std::snprintf(out, cap, "%02.01fW", static_cast<double>(watts));
    }
}

void DrawMeters(Works *w) {
    FbScreen *fb = &w->fb;
    const bool peaks = w->auxFwdEnable.load() == 1;
    char text[32];

    // Left meter: forward power. The needles stop at the end of the scale;
    // the text shows the reading as it is.
    const float fwdTop = w->powerClass.load() == '1' ? 120.0f : 60.0f;
    const float fwd = w->pwrFwd.load();
    w->needleAngle1 = Angle(Limit(fwd, 0.0f, fwdTop), number_ofStep_meter_FWD);
    if (peaks) {
        float aux = Limit(w->pwrFwdAux.load(), 0.0f, fwdTop);
        if (w->peakAngle1.load() == 0.0f)
            w->peakVal1 = aux;
        else
            CalcolaPwrPeak(w, aux);
    }
    DrawNeedle(fb, kLeftX, kPivotY, w->needleAngle1, 255, 0, 0);
    if (peaks) {
        w->peakAngle1 = Angle(Limit(w->peakVal1.load(), 0.0f, fwdTop), number_ofStep_meter_FWD);
        DrawNeedle(fb, kLeftX, kPivotY, w->peakAngle1, 0, 0, 0);
    }

    // Right meter by view.
    const int view = w->viewType.load();
    float value = 0.0f, top = 60.0f;
    int steps = 60;
    bool drawRight = true;
    switch (view) {
    case 1: {
        float refl = w->pwrRefl.load();
        value = Limit(refl, 0.0f, 60.0f);
        steps = number_ofStep_meter_REFL;
        Text(w, 8, 535, 160, "REFLECTED", 0, 0, 0);
        MeterPowerText(w, refl, text, sizeof text);
        Text(w, 8, 565, 180, text, 0, 0, 0);
        break;
    }
    case 2: {
        float swr = Limit(w->swr.load(), 0.0f, 100.0f);
        value = CalcolaSWR(swr);
        steps = number_ofStep_meter_SWR;
        Text(w, 8, 570, 160, "SWR", 0, 0, 0);
        std::snprintf(text, sizeof text, "%02.01f", static_cast<double>(swr));
        Text(w, 8, 580, 180, text, 0, 0, 0);
        break;
    }
    case 3: {
        float in = w->pwrIn.load();
        value = Limit(in, 0.0f, 60.0f);
        steps = number_ofStep_meter_PW;
        Text(w, 8, 560, 160, "PRWIN", 0, 0, 0);
        MeterPowerText(w, in, text, sizeof text);
        Text(w, 8, 570, 180, text, 0, 0, 0);
        break;
    }
    default:
        drawRight = false; // not a meter view
        break;
    }
    if (drawRight) {
        if (peaks) {
            if (w->peakAngle2.load() == 0.0f)
                w->peakVal2 = value;
            else
                CalcolaPwrPeak2(w, value);
            w->peakAngle2 = Angle(Limit(w->peakVal2.load(), 0.0f, top), steps);
        }
        w->needleAngle2 = Angle(value, steps);
        DrawNeedle(fb, kRightX, kPivotY, w->needleAngle2, 255, 0, 0);
        if (peaks) DrawNeedle(fb, kRightX, kPivotY, w->peakAngle2, 0, 0, 0);
    }

    DrawFreq(w);
    Text(w, 8, 155, 160, "FORWARD", 0, 0, 0);
    MeterPowerText(w, fwd, text, sizeof text);
    Text(w, 8, 180, 180, text, 0, 0, 0);
}

int FreqCaption(int32_t hz, char *out, size_t cap) {
    double f = static_cast<double>(hz);
    if (f <= 0) {
        if (cap > 0) out[0] = '\0';
        return 0;
    }
    if (f < 1000)
        std::snprintf(out, cap, "%.00fHz", f);
    else if (f < 1000000)
        std::snprintf(out, cap, "%.03fkHz", f / 1000.0);
    else
        std::snprintf(out, cap, "%.03fMHz", f / 1000000.0);
    return 1;
}

void DrawFreq(Works *w) {
    char text[32];
    if (FreqCaption(w->freq.load(), text, sizeof text) == 0) return;
    int view = w->viewType.load();
    bool plot = view == 4 || view == 5;
    int x = (bound_right - bound_left) / 2 + bound_left - 75;
    int y = b_top - r_y / 2;
    Text(w, 4, x, y, text, plot ? 250 : 0, plot ? 150 : 0, 0);
}

void DrawGrid(Works *w) {
    if (w->screenFlags.load() != 0) return;
    // One reading of the range fields for the whole pass: the key thread may
    // change the view while the trace is being drawn.
    const Grid g = PassGrid();
    r_x = g.rx;
    r_y = g.ry;
    bound_left = g.left;
    bound_right = g.right;
    b_top = g.top;
    b_bottom = g.bottom;

    FbScreen *fb = &w->fb;
    char text[16];
    Text(w, 8, g.left - 35, g.top - g.ry, "dBm", 180, 180, 180);
    for (int i = 0; i <= g.divY; i++) {
        int y = g.ry * i + g.top;
        DrawHorizontalLine(g.left, y, g.right, 120, 120, 120, fb, 0);
        std::snprintf(text, sizeof text, "%d", static_cast<int>(g.high) - PointDiv * i);
        Text(w, 6, g.left - 35, y, text, 180, 180, 180);
    }
    const int span = w->spanHz.load();
    for (int i = 0; i <= g.divX; i++) {
        int x = g.rx * i + g.left;
        DrawLine(x, g.top, x, g.bottom, 120, 120, 120, fb, 0);
        int m = 10 * i - span / 2000;
        if (m == 0) {
            Text(w, 6, x, g.bottom + 13, "0", 180, 180, 180);
        } else {
            std::snprintf(text, sizeof text, m < 0 ? "%d" : "+%d", m);
            Text(w, 6, x - 10, g.bottom + 13, text, 180, 180, 180);
        }
    }

    // The narrow span shows the middle of the full line.
    float levels[kPlotLevels];
    CopyLevels(w, levels);
    const int offset = g.divX == 16 ? 0 : 213;
    const float shift = static_cast<float>(w->offsetPlot);
    for (int i = 0; i <= g.xEnd - 2 && i + 1 + offset < kPlotLevels; i++) {
        PlotPoint a = Point(g, g.low, g.high, i, levels[i + offset] + shift);
        PlotPoint b = Point(g, g.low, g.high, i + 1, levels[i + 1 + offset] + shift);
        DrawLine(static_cast<int>(a.x), static_cast<int>(a.y), static_cast<int>(b.x),
                 static_cast<int>(b.y), 250, 0, 150, fb, 0);
    }
    DrawFreq(w);
}
