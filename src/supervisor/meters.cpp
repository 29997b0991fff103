#include "supervisor/meters.h"

#include "model/remote_link.h"
#include "model/works.h"
#include "display/fb.h"
#include "display/graph.h"
#include "display/ttf.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <pthread.h>

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

void PeakTrack(PeakRecord *p, float x) {
    float peak = p->val.load();
    if (x > peak) {
        p->hold = TimerPeakSec.load();
        p->val = x;
    } else if (p->hold.load() <= 0) {
        const int f = fattoremedia.load();
        p->val = (static_cast<float>(f) * peak + x) / static_cast<float>(f + 1);
    }
}

void CalcolaPwrPeak(Works *w, float x) {
    PeakTrack(&w->peak[0], x);
}

void CalcolaPwrPeak2(Works *w, float x) {
    PeakTrack(&w->peak[1], x);
}

void PeakHoldStep(Works *w, int d) {
    for (PeakRecord &m : w->peak) {
        if (m.hold.load() <= 0) continue;
        m.hold = m.hold.load() - d;
        if (m.decCnt.load() < PeakDecrementTime.load()) {
            m.decCnt = m.decCnt.load() + 1;
        } else {
            float v = m.val.load() - static_cast<float>(PeakDecrement.load());
            m.val = v > 0.0f ? v : 0.0f;
            m.decCnt = 0;
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

namespace {

// The frequency caption as drawn: place, colour and text (empty: none).
struct FreqText {
    int32_t x, y;
    uint8_t r, g, b, shown;
    char text[32];
};

void ComposeFreq(Works *w, FreqText *f) {
    std::memset(f, 0, sizeof *f);
    if (FreqCaption(w->freq.load(), f->text, sizeof f->text) == 0) return;
    const int view = w->viewType.load();
    const bool plot = view == 4 || view == 5;
    f->shown = 1;
    f->x = (bound_right - bound_left) / 2 + bound_left - 75;
    f->y = b_top - r_y / 2;
    f->r = plot ? 250 : 0;
    f->g = plot ? 150 : 0;
}

void PaintFreq(Works *w, const FreqText &f) {
    if (f.shown != 0) Text(w, 4, f.x, f.y, f.text, f.r, f.g, f.b);
}

// What a meter pass draws: needle angles, texts and the frequency. Its bytes
// are the whole input of the drawing.
struct MeterFace {
    uint8_t tag; // 'M'
    uint8_t peaks;
    uint8_t right;
    uint8_t pad;
    float needle1, peak1, needle2, peak2;
    int32_t labelX, valueX;
    char label[16];
    char value[32];
    char forward[32];
    FreqText freq;
};

// What the meters show: this unit's readings, or on a remote station that
// is connected, its server's (reflected power from forward power and SWR).
struct Readings {
    float fwd, fwdAux, refl, swr, in;
};

Readings ShownReadings(Works *w) {
    RemoteStatus r;
    if (RemoteStatusShown(w, &r))
        return {r.fwd, r.fwd, ReflectedFromSwr(r.fwd, r.swr), r.swr, r.in};
    return {w->pwrFwd.load(), w->pwrFwdAux.load(), w->pwrRefl.load(), w->swr.load(),
            w->pwrIn.load()};
}

// The peak needle of meter 0 (left) or 1 (right) for a new reading: the
// first reading sets the peak, later ones update it; the needle stops at the
// end of the scale.
float PeakNeedle(Works *w, int meter, float value, float top, int steps) {
    PeakRecord *p = &w->peak[meter];
    if (p->angle.load() == 0.0f)
        p->val = value;
    else if (meter == 0)
        CalcolaPwrPeak(w, value);
    else
        CalcolaPwrPeak2(w, value);
    p->angle = Angle(Limit(p->val.load(), 0.0f, top), steps);
    return p->angle;
}

// The right meter of views 1-3 (label, value text, reading); returns its
// scale's steps, or 0 (m->right 0) in a view without it.
int RightMeter(Works *w, const Readings &now, MeterFace *m, float *value) {
    m->right = 1;
    switch (w->viewType.load()) {
    case 1:
        *value = Limit(now.refl, 0.0f, 60.0f);
        std::snprintf(m->label, sizeof m->label, "REFLECTED");
        m->labelX = 535;
        MeterPowerText(w, now.refl, m->value, sizeof m->value);
        m->valueX = 565;
        return number_ofStep_meter_REFL;
    case 2: {
        float swr = Limit(now.swr, 0.0f, 100.0f);
        *value = CalcolaSWR(swr);
        std::snprintf(m->label, sizeof m->label, "SWR");
        m->labelX = 570;
        std::snprintf(m->value, sizeof m->value, "%02.01f", static_cast<double>(swr));
        m->valueX = 580;
        return number_ofStep_meter_SWR;
    }
    case 3:
        *value = Limit(now.in, 0.0f, 60.0f);
        std::snprintf(m->label, sizeof m->label, "PRWIN");
        m->labelX = 560;
        MeterPowerText(w, now.in, m->value, sizeof m->value);
        m->valueX = 570;
        return number_ofStep_meter_PW;
    default:
        m->right = 0; // not a meter view
        return 0;
    }
}

void ComposeMeters(Works *w, MeterFace *m) {
    std::memset(m, 0, sizeof *m);
    const Readings now = ShownReadings(w);
    m->tag = 'M';
    const bool peaks = w->auxFwdEnable.load() == 1;
    m->peaks = peaks ? 1 : 0;

    // Left meter: forward power. The needles stop at the end of the scale;
    // the text shows the reading as it is.
    const float fwdTop = w->powerClass.load() == '1' ? 120.0f : 60.0f;
    const float fwd = now.fwd;
    w->needleAngle1 = Angle(Limit(fwd, 0.0f, fwdTop), number_ofStep_meter_FWD);
    m->needle1 = w->needleAngle1;
    if (peaks)
        m->peak1 =
            PeakNeedle(w, 0, Limit(now.fwdAux, 0.0f, fwdTop), fwdTop, number_ofStep_meter_FWD);

    float value = 0.0f;
    const int steps = RightMeter(w, now, m, &value);
    if (m->right != 0) {
        if (peaks) m->peak2 = PeakNeedle(w, 1, value, 60.0f, steps);
        w->needleAngle2 = Angle(value, steps);
        m->needle2 = w->needleAngle2;
    }

    ComposeFreq(w, &m->freq);
    MeterPowerText(w, fwd, m->forward, sizeof m->forward);
}

void PaintMeters(Works *w, const MeterFace &m) {
    FbScreen *fb = &w->fb;
    DrawNeedle(fb, kLeftX, kPivotY, m.needle1, 255, 0, 0);
    if (m.peaks != 0) DrawNeedle(fb, kLeftX, kPivotY, m.peak1, 0, 0, 0);
    if (m.right != 0) {
        Text(w, 8, m.labelX, 160, m.label, 0, 0, 0);
        Text(w, 8, m.valueX, 180, m.value, 0, 0, 0);
        DrawNeedle(fb, kRightX, kPivotY, m.needle2, 255, 0, 0);
        if (m.peaks != 0) DrawNeedle(fb, kRightX, kPivotY, m.peak2, 0, 0, 0);
    }
    PaintFreq(w, m.freq);
    Text(w, 8, 155, 160, "FORWARD", 0, 0, 0);
    Text(w, 8, 180, 180, m.forward, 0, 0, 0);
}

// Rows of the meters and of the plot, with the frequency caption above them.
constexpr int kFaceTop = 24, kFaceBottom = 262;

} // namespace

void DrawMeters(Works *w) {
    MeterFace m;
    ComposeMeters(w, &m);
    if (fbBandBegin(&w->fb, kBandMeters, kFaceTop, kFaceBottom, &m, sizeof m) != 0) {
        PaintMeters(w, m);
        fbBandEnd(&w->fb, kBandMeters);
    }
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

namespace {

// What a plot pass draws apart from the spectrum line: the layout of this
// pass, the scale texts' inputs and the frequency.
struct PlotKey {
    uint8_t tag;    // 'G'
    uint8_t noData; // 1: no spectrum came lately, "NO DATA" instead of the line
    uint8_t pad[2];
    Grid g;
    int32_t span, offset, pointDiv, borderTop, borderLeft;
    float shift;
    FreqText freq;
};

// The whole input of a plot drawing: its bytes are the band's key when the
// line cannot be amended in place.
struct PlotFace {
    PlotKey k;
    float levels[kPlotLevels];
};

// The spectrum line as points on the screen (points 0..count - 1).
struct PlotLine {
    int count;
    int x[kPlotLevels], y[kPlotLevels];
};

void ComputeTrace(const PlotFace &p, PlotLine *t) {
    const Grid &g = p.k.g;
    if (p.k.noData != 0) {
        t->count = 0;
        return;
    }
    // The narrow span shows the middle of the full line.
    int segments = 0;
    while (segments <= g.xEnd - 2 && segments + 1 + p.k.offset < kPlotLevels)
        segments++;
    t->count = segments > 0 ? segments + 1 : 0;
    for (int i = 0; i < t->count; i++) {
        PlotPoint a = Point(g, g.low, g.high, i, p.levels[i + p.k.offset] + p.k.shift);
        t->x[i] = static_cast<int>(a.x);
        t->y[i] = static_cast<int>(a.y);
    }
}

void PaintScale(Works *w, const PlotKey &k) {
    const Grid &g = k.g;
    FbScreen *fb = &w->fb;
    char text[16];
    Text(w, 8, g.left - 35, g.top - g.ry, "dBm", 180, 180, 180);
    for (int i = 0; i <= g.divY; i++) {
        int y = g.ry * i + g.top;
        DrawHorizontalLine(g.left, y, g.right, 120, 120, 120, fb, 0);
        std::snprintf(text, sizeof text, "%d", static_cast<int>(g.high) - k.pointDiv * i);
        Text(w, 6, g.left - 35, y, text, 180, 180, 180);
    }
    for (int i = 0; i <= g.divX; i++) {
        int x = g.rx * i + g.left;
        DrawLine(x, g.top, x, g.bottom, 120, 120, 120, fb, 0);
        int m = 10 * i - k.span / 2000;
        if (m == 0) {
            Text(w, 6, x, g.bottom + 13, "0", 180, 180, 180);
        } else {
            std::snprintf(text, sizeof text, m < 0 ? "%d" : "+%d", m);
            Text(w, 6, x - 10, g.bottom + 13, text, 180, 180, 180);
        }
    }
}

// Without spectra the plot says so in the middle of the grid, rather than
// drawing a line that would look like a real (flat) signal.
void PaintNoData(Works *w, const Grid &g) {
    const char *text = "NO DATA";
    Text(w, 4, (g.left + g.right - getStringSpace(4, text)) / 2, (g.top + g.bottom) / 2 + 12, text,
         180, 180, 180);
}

void PaintTrace(Works *w, const PlotLine &t, int first, int last) {
    DrawLineStrip(t.x, t.y, first, last, 250, 0, 150, &w->fb, 0);
}

// What the plot band keeps beside its pixels so that a changed spectrum
// redraws only the columns its line moved in: the line as drawn, and the
// area under the line and the frequency caption as it was before either was
// drawn (background, grid and scale).
struct PlotNotes {
    PlotLine drawn;
    // followed by the area's pixels (PlotArea)
};

// A rectangle of the screen, both ends included.
struct Rect {
    int left, top, right, bottom;
};

bool Meets(const Rect &a, const Rect &b) {
    return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

// Where the caption may draw (with a margin for glyphs reaching past the
// font's extents); empty (left > right) when it draws nothing.
Rect CaptionRect(const FreqText &f) {
    if (f.shown == 0 || face[4] == nullptr || face[4]->size == nullptr) return {1, 1, 0, 0};
    const FT_Size_Metrics &m = face[4]->size->metrics;
    const int ascent = static_cast<int>((m.ascender + 63) / 64);
    const int descent = static_cast<int>((-m.descender + 63) / 64);
    // Glyphs above the band's rows would end what the band keeps (its owner
    // drew past it): then nothing is amended, so the rows above need no notes.
    return {f.x - 4, std::max(f.y - ascent - 4, kFaceTop), f.x + getStringSpace(4, f.text) + 4,
            f.y + descent + 4};
}

// The area the notes keep: the plot and the caption over it.
Rect PlotArea(const Grid &g, const Rect &caption) {
    Rect a{g.left, g.top, g.right, g.bottom};
    if (caption.left <= caption.right) {
        a.left = std::min(a.left, caption.left);
        a.top = std::min(a.top, caption.top);
        a.right = std::max(a.right, caption.right);
        a.bottom = std::max(a.bottom, caption.bottom);
    }
    return a;
}

size_t AreaBytes(const Rect &a, const FbScreen *fb) {
    return static_cast<size_t>(a.bottom - a.top + 1) * static_cast<size_t>(a.right - a.left + 1) *
           fb->pixelSize;
}

// Whether the line can be amended in place: the area lies inside the band
// and the screen, and the line inside the plot.
bool Amendable(Works *w, const Grid &g, const Rect &area, const PlotLine &t) {
    const FbScreen *fb = &w->fb;
    if (fb->workMem == nullptr || (fb->pixelSize != 2 && fb->pixelSize != 4)) return false;
    if (area.left < 0 || area.right >= fb->sizeX || area.top < kFaceTop ||
        area.bottom > kFaceBottom || area.bottom >= fb->sizeY || g.left > g.right ||
        g.top > g.bottom || g.right - g.left + 1 > kPlotLevels)
        return false;
    for (int i = 0; i < t.count; i++)
        if (t.x[i] < g.left || t.x[i] > g.right || t.y[i] < g.top || t.y[i] > g.bottom)
            return false;
    return true;
}

// Puts back pixels of the area as they were before the line was drawn.
void PutBack(FbScreen *fb, const Rect &area, const PlotNotes *notes, int x, int top, int bottom) {
    const size_t ps = fb->pixelSize;
    const size_t line = static_cast<size_t>(area.right - area.left + 1) * ps;
    const uint8_t *from = reinterpret_cast<const uint8_t *>(notes + 1) +
                          static_cast<size_t>(top - area.top) * line +
                          static_cast<size_t>(x - area.left) * ps;
    uint8_t *to =
        fb->workMem + static_cast<size_t>(top) * fb->lineSize + static_cast<size_t>(x) * ps;
    for (int y = top; y <= bottom; y++, from += line, to += fb->lineSize) {
        if (ps == 4)
            std::memcpy(to, from, 4);
        else
            std::memcpy(to, from, 2);
    }
}

// The plot columns a new line moved in, and the rows the old line covers in
// each of them.
struct MovedColumns {
    int left, cols; // the plot's first column, and how many
    uint8_t on[kPlotLevels];
    int16_t lo[kPlotLevels], hi[kPlotLevels];
};

// Whether segment i of line `l` reaches into a moved column.
bool Touches(const MovedColumns &m, const PlotLine &l, int i) {
    for (int x = std::min(l.x[i], l.x[i + 1]); x <= std::max(l.x[i], l.x[i + 1]); x++)
        if (m.on[x - m.left] != 0) return true;
    return false;
}

// Marks the columns where `t` differs from `old` and the rows `old` covers in
// them; false when nothing moved. A line of another length (not expected
// with the same layout) moves the whole plot.
bool FindMoved(const Grid &g, const PlotLine &old, const PlotLine &t, MovedColumns *m) {
    m->left = g.left;
    m->cols = g.right - g.left + 1; // at most kPlotLevels (Amendable)
    const bool whole = old.count != t.count;
    std::memset(m->on, whole ? 1 : 0, static_cast<size_t>(m->cols));
    bool any = whole;
    for (int i = 0; !whole && i + 1 < t.count; i++) {
        if (t.y[i] == old.y[i] && t.y[i + 1] == old.y[i + 1]) continue;
        for (int x = std::min(t.x[i], t.x[i + 1]); x <= std::max(t.x[i], t.x[i + 1]); x++)
            m->on[x - g.left] = 1;
        any = true;
    }
    if (!any) return false;
    for (int c = 0; c < m->cols; c++) {
        m->lo[c] = static_cast<int16_t>(whole ? g.top : INT16_MAX);
        m->hi[c] = static_cast<int16_t>(whole ? g.bottom : -1);
    }
    for (int i = 0; !whole && i + 1 < old.count; i++) {
        if (!Touches(*m, old, i)) continue;
        const int top = std::min(old.y[i], old.y[i + 1]), bottom = std::max(old.y[i], old.y[i + 1]);
        for (int x = std::min(old.x[i], old.x[i + 1]); x <= std::max(old.x[i], old.x[i + 1]); x++) {
            const int c = x - g.left;
            if (m->on[c] == 0) continue;
            m->lo[c] = static_cast<int16_t>(std::min<int>(m->lo[c], top));
            m->hi[c] = static_cast<int16_t>(std::max<int>(m->hi[c], bottom));
        }
    }
    return true;
}

// Puts back what lay under the old line, a run of moved columns at a time;
// true when a run meets the caption.
bool PutBackMoved(FbScreen *fb, const Rect &area, const Rect &caption, PlotNotes *notes,
                  const MovedColumns &m) {
    bool underCaption = false;
    for (int c = 0; c < m.cols;) {
        if (m.on[c] == 0 || m.lo[c] > m.hi[c]) {
            c++;
            continue;
        }
        int end = c, top = m.lo[c], bottom = m.hi[c];
        while (end + 1 < m.cols && m.on[end + 1] != 0 && m.lo[end + 1] <= m.hi[end + 1]) {
            end++;
            top = std::min<int>(top, m.lo[end]);
            bottom = std::max<int>(bottom, m.hi[end]);
        }
        const Rect run{m.left + c, top, m.left + end, bottom};
        underCaption = underCaption || Meets(run, caption);
        fbMarkRect(fb, run.left, run.top, run.right, run.bottom, 0);
        for (int x = c; x <= end; x++)
            PutBack(fb, area, notes, m.left + x, m.lo[x], m.hi[x]);
        c = end + 1;
    }
    return underCaption;
}

// Draws the segments of `t` through the moved columns, in runs; true when a
// run meets the caption.
bool PaintMoved(Works *w, const PlotLine &t, const Rect &caption, const MovedColumns &m) {
    bool underCaption = false;
    for (int i = 0; i + 1 < t.count;) {
        if (!Touches(m, t, i)) {
            i++;
            continue;
        }
        int end = i + 1;
        while (end + 1 < t.count && Touches(m, t, end))
            end++;
        Rect run{t.x[i], t.y[i], t.x[i], t.y[i]};
        for (int j = i + 1; j <= end; j++)
            run = {std::min(run.left, t.x[j]), std::min(run.top, t.y[j]),
                   std::max(run.right, t.x[j]), std::max(run.bottom, t.y[j])};
        underCaption = underCaption || Meets(run, caption);
        PaintTrace(w, t, i, end);
        i = end;
    }
    return underCaption;
}

// Columns whose line changed, redrawn over the area as it was under the
// line. Every pixel the old line left in such a column is put back first,
// then every segment that reaches into one is drawn again: columns outside
// them already show the same segments. Where that meets the caption, the
// caption's rectangle is put back and its segments and the caption drawn
// again over it.
void AmendTrace(Works *w, const PlotKey &k, const Rect &area, const Rect &caption, PlotNotes *notes,
                const PlotLine &t) {
    FbScreen *fb = &w->fb;
    MovedColumns m;
    if (!FindMoved(k.g, notes->drawn, t, &m)) return;
    bool underCaption = PutBackMoved(fb, area, caption, notes, m);
    underCaption = PaintMoved(w, t, caption, m) || underCaption;
    if (!underCaption) return;
    // The caption's rectangle as it was under the line, the line through
    // its columns, and the caption over them.
    fbMarkRect(fb, caption.left, caption.top, caption.right, caption.bottom, 0);
    for (int x = caption.left; x <= caption.right; x++)
        PutBack(fb, area, notes, x, caption.top, caption.bottom);
    int first = -1, last = -1;
    for (int i = 0; i + 1 < t.count; i++) {
        if (std::max(t.x[i], t.x[i + 1]) < caption.left ||
            std::min(t.x[i], t.x[i + 1]) > caption.right)
            continue;
        if (first < 0) first = i;
        last = i + 1;
    }
    if (first >= 0) PaintTrace(w, t, first, last);
    PaintFreq(w, k.freq);
}

} // namespace

void DrawGrid(Works *w) {
    if (w->screenFlags.load() != 0) return;
    // One reading of the range fields for the whole pass: the key thread may
    // change the view while the trace is being drawn.
    PlotFace p;
    std::memset(&p, 0, sizeof p);
    p.k.tag = 'G';
    p.k.g = PassGrid();
    const Grid &g = p.k.g;
    r_x = g.rx;
    r_y = g.ry;
    bound_left = g.left;
    bound_right = g.right;
    b_top = g.top;
    b_bottom = g.bottom;
    p.k.span = w->spanHz.load();
    p.k.pointDiv = PointDiv;
    p.k.borderTop = borderTop;
    p.k.borderLeft = borderLeft;
    p.k.noData = w->plotNoData.load() != 0 ? 1 : 0;
    if (p.k.noData == 0) CopyLevels(w, p.levels);
    p.k.offset = g.divX == 16 ? 0 : 213;
    p.k.shift = static_cast<float>(w->offsetPlot.load());
    ComposeFreq(w, &p.k.freq);
    static thread_local PlotLine t;
    ComputeTrace(p, &t);
    FbScreen *fb = &w->fb;
    const Rect caption = CaptionRect(p.k.freq);
    const Rect area = PlotArea(g, caption);
    PlotNotes *notes = nullptr;
    if (Amendable(w, g, area, t))
        notes = reinterpret_cast<PlotNotes *>(
            fbBandStore(fb, kBandMeters, sizeof(PlotNotes) + AreaBytes(area, fb)));
    int drawing;
    if (notes != nullptr)
        drawing = fbBandAmend(fb, kBandMeters, kFaceTop, kFaceBottom, &p.k, sizeof p.k);
    else
        drawing = fbBandBegin(fb, kBandMeters, kFaceTop, kFaceBottom, &p, sizeof p);
    if (drawing == 0) return;
    if (drawing == 2) {
        AmendTrace(w, p.k, area, caption, notes, t);
    } else {
        PaintScale(w, p.k);
        if (notes != nullptr) {
            // The area as it is under the line, for later amends.
            const size_t ps = fb->pixelSize;
            const size_t line = static_cast<size_t>(area.right - area.left + 1) * ps;
            auto *under = reinterpret_cast<uint8_t *>(notes + 1);
            for (int y = area.top; y <= area.bottom; y++)
                std::memcpy(under + static_cast<size_t>(y - area.top) * line,
                            fb->workMem + static_cast<size_t>(y) * fb->lineSize +
                                static_cast<size_t>(area.left) * ps,
                            line);
        }
        if (t.count > 1) PaintTrace(w, t, 0, t.count - 1);
        if (p.k.noData != 0) PaintNoData(w, g);
        PaintFreq(w, p.k.freq);
    }
    if (notes != nullptr) std::memcpy(&notes->drawn, &t, sizeof t);
    fbBandEnd(fb, kBandMeters);
}
