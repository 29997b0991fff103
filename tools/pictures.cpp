// helix-pictures OUTDIR: draws the panel's background pictures with the
// program's own drawing and text code and writes them as 800x480 RGBA PNGs:
// the splash ("start", "start120"), the plain and status pages ("statusB",
// "status"), the meter faces ("img1", "img1b", "img3", "img3b") and the
// spectrum-plot background ("m5a"). Every picture leaves the soft-key bar
// (rows 420-479) and the error-box band (rows 370-415) plain.
#include "app/threads.h"
#include "model/version.h"
#include "display/fb.h"
#include "display/graph.h"
#include "display/png.h"
#include "display/ttf.h"
#include "platform/paths.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int W = 800, H = 480;

struct Rgb {
    int r, g, b;
};

constexpr Rgb kPanelTop{34, 36, 40}, kPanelBottom{14, 15, 18};
constexpr Rgb kFace{242, 236, 218}, kFaceEdge{206, 198, 176};
constexpr Rgb kInk{20, 20, 22}, kRedZone{205, 40, 30}, kAmber{250, 160, 20};

// Font slots of this program (free slots of the table).
enum { F_TITLE = 12, F_SUB = 13, F_SCALE = 14, F_SMALL = 15, F_HEAD = 16, F_TINY = 17 };

FbScreen fb;

void Hline(int x0, int y, int x1, Rgb c) {
    if (y < 0 || y >= H) return;
    DrawHorizontalLine(std::max(x0, 0), y, std::min(x1, W), static_cast<uint8_t>(c.r),
                       static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.b), &fb, 0);
}

void FillRect(int x0, int y0, int x1, int y1, Rgb c) {
    for (int y = y0; y < y1; y++)
        Hline(x0, y, x1, c);
}

Rgb Mix(Rgb a, Rgb b, double t) {
    return {static_cast<int>(a.r + (b.r - a.r) * t + 0.5),
            static_cast<int>(a.g + (b.g - a.g) * t + 0.5),
            static_cast<int>(a.b + (b.b - a.b) * t + 0.5)};
}

void Gradient(int x0, int y0, int x1, int y1, Rgb top, Rgb bottom) {
    for (int y = y0; y < y1; y++)
        Hline(x0, y, x1, Mix(top, bottom, double(y - y0) / std::max(1, y1 - y0 - 1)));
}

// Blends colour c over pixel (x, y) with opacity a (0..1).
void Plot(int x, int y, Rgb c, double a) {
    if (x < 0 || y < 0 || x >= W || y >= H || a <= 0) return;
    a = std::min(a, 1.0);
    uint8_t *p = fb.workMem + static_cast<size_t>(y) * fb.lineSize + static_cast<size_t>(x) * 4;
    p[0] = static_cast<uint8_t>(p[0] + (c.b - p[0]) * a + 0.5);
    p[1] = static_cast<uint8_t>(p[1] + (c.g - p[1]) * a + 0.5);
    p[2] = static_cast<uint8_t>(p[2] + (c.r - p[2]) * a + 0.5);
}

// Anti-aliased segment of the given width with round ends.
void Segment(double x0, double y0, double x1, double y1, double width, Rgb c) {
    double hw = width / 2;
    int minX = static_cast<int>(std::floor(std::min(x0, x1) - hw - 1));
    int maxX = static_cast<int>(std::ceil(std::max(x0, x1) + hw + 1));
    int minY = static_cast<int>(std::floor(std::min(y0, y1) - hw - 1));
    int maxY = static_cast<int>(std::ceil(std::max(y0, y1) + hw + 1));
    double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    for (int y = minY; y <= maxY; y++)
        for (int x = minX; x <= maxX; x++) {
            double t = len2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / len2 : 0;
            t = std::clamp(t, 0.0, 1.0);
            double ex = x0 + t * dx - x, ey = y0 + t * dy - y;
            double d = std::sqrt(ex * ex + ey * ey);
            Plot(x, y, c, hw + 0.5 - d);
        }
}

void Disk(double cx, double cy, double r, Rgb c) {
    Segment(cx, cy, cx, cy, 2 * r, c);
}

// Filled rectangle with anti-aliased rounded corners of radius rad.
void RoundRect(int x0, int y0, int x1, int y1, int rad, Rgb c) {
    for (int y = y0; y < y1; y++) {
        double dy = 0;
        if (y < y0 + rad)
            dy = y0 + rad - (y + 0.5);
        else if (y >= y1 - rad)
            dy = (y + 0.5) - (y1 - rad);
        double inset = dy > 0 ? rad - std::sqrt(std::max(0.0, rad * rad - dy * dy)) : 0;
        int ix = static_cast<int>(std::ceil(inset));
        Hline(x0 + ix, y, x1 - ix, c);
        double frac = ix - inset; // partial coverage of the edge pixels
        if (ix > 0) {
            Plot(x0 + ix - 1, y, c, frac);
            Plot(x1 - ix, y, c, frac);
        }
    }
}

void Text(int slotNo, int x, int y, const char *s, Rgb c) {
    putString(slotNo, x, y, s, c.r, c.g, c.b, &fb, 0, 0, 0, 0);
}

void TextCentered(int slotNo, int cx, int y, const char *s, Rgb c) {
    Text(slotNo, cx - getStringSpace(slotNo, s) / 2, y, s, c);
}

// The screen's common parts: the dark panel, and the lower area with the
// soft-key bar left plain.
void Panel() {
    Gradient(0, 0, W, H, kPanelTop, kPanelBottom);
    FillRect(0, 420, W, H, {10, 10, 12});
    Hline(0, 419, W, {58, 60, 66});
}

// ---- meters ----
// Needle geometry of the meter drawing: pivot, radius 200, offset 15.
struct Meter {
    double px, py;
};
constexpr Meter kLeft{210, 260}, kRight{590, 260};

double Theta(double v, double n) {
    return (0.24 - v * 0.48 / n) * 3.141692653;
}

// Point at fraction t of the way from the pivot to the needle tip for value v.
void Along(Meter m, double v, double n, double t, double *x, double *y) {
    double th = Theta(v, n);
    double tx = m.px - 200 * std::sin(th) + 15 * std::cos(th + 1.5708463265);
    double ty = m.py - 200 * std::cos(th) + 15 * std::sin(th + 1.5708463265);
    *x = m.px + t * (tx - m.px);
    *y = m.py + t * (ty - m.py);
}

constexpr double kArc = 0.90;   // the scale's base line
constexpr double kMajor = 1.00; // outer end of a major tick
constexpr double kMedium = 0.97;
constexpr double kMinor = 0.945;
constexpr double kLabel = 1.085; // centre of the numbers

void ArcBand(Meter m, double n, double v0, double v1, double t0, double t1, Rgb c) {
    // A band between two scale lines, filled with short segments along the scale.
    const int steps = 240;
    for (int k = 0; k < steps; k++) {
        double v = v0 + (v1 - v0) * k / (steps - 1);
        double xa, ya, xb, yb;
        Along(m, v, n, t0, &xa, &ya);
        Along(m, v, n, t1, &xb, &yb);
        Segment(xa, ya, xb, yb, 1.6, c);
    }
}

void ArcLine(Meter m, double n, double v0, double v1, double t, double width, Rgb c) {
    const int steps = 120;
    double px = 0, py = 0;
    for (int k = 0; k <= steps; k++) {
        double x, y;
        Along(m, v0 + (v1 - v0) * k / steps, n, t, &x, &y);
        if (k > 0) Segment(px, py, x, y, width, c);
        px = x;
        py = y;
    }
}

void Tick(Meter m, double v, double n, double outer, double width) {
    double x0, y0, x1, y1;
    Along(m, v, n, kArc, &x0, &y0);
    Along(m, v, n, outer, &x1, &y1);
    Segment(x0, y0, x1, y1, width, kInk);
}

void Label(Meter m, double v, double n, const char *s) {
    double x, y;
    Along(m, v, n, kLabel, &x, &y);
    TextCentered(F_SCALE, static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y + 6)), s,
                 kInk);
}

// A power scale 0..full watts on a needle scale of `full` steps.
void PowerScale(Meter m, int full, int redFrom) {
    const double n = full;
    ArcBand(m, n, redFrom, full, kArc - 0.045, kArc, kRedZone);
    ArcLine(m, n, 0, full, kArc, 1.6, kInk);
    const int minor = full > 60 ? 2 : 1, medium = full > 60 ? 10 : 5, major = full > 60 ? 20 : 10;
    for (int v = 0; v <= full; v += minor) {
        if (v % major == 0)
            Tick(m, v, n, kMajor, 2.2);
        else if (v % medium == 0)
            Tick(m, v, n, kMedium, 1.6);
        else
            Tick(m, v, n, kMinor, 1.0);
    }
    for (int v = 0; v <= full; v += major) {
        char t[16];
        std::snprintf(t, sizeof t, "%d", v);
        Label(m, v, n, t);
    }
    double x, y;
    Along(m, full / 2.0, n, 0.66, &x, &y);
    TextCentered(F_SMALL, static_cast<int>(x), static_cast<int>(y), "WATTS", {90, 86, 78});
}

// The SWR scale of the meter code: {SWR, position of 60}.
constexpr double kSwrTable[][2] = {{1.0, 0},  {1.5, 11}, {2.0, 20},  {3.0, 30},
                                   {4.0, 36}, {5.0, 40}, {6.0, 43},  {7.0, 45},
                                   {8.0, 47}, {9.0, 48}, {10.0, 50}, {100.0, 60}};

double SwrPosition(double swr) {
    for (size_t i = 1; i < std::size(kSwrTable); i++)
        if (kSwrTable[i][0] > swr) {
            const double *a = kSwrTable[i - 1], *b = kSwrTable[i];
            return a[1] + (b[1] - a[1]) * (swr - a[0]) / (b[0] - a[0]);
        }
    return 60;
}

void SwrScale(Meter m) {
    const double n = 60;
    ArcBand(m, n, 30, 60, kArc - 0.045, kArc, kRedZone);
    ArcLine(m, n, 0, 60, kArc, 1.6, kInk);
    for (double s : {1.1, 1.2, 1.3, 1.4, 1.6, 1.7, 1.8, 1.9, 2.5, 4.0, 6.0, 7.0, 8.0, 9.0, 20.0})
        Tick(m, SwrPosition(s), n, kMinor, 1.0);
    const struct {
        double pos;
        const char *text;
    } majors[] = {{0, "1"},  {11, "1.5"}, {20, "2"},           {30, "3"},
                  {40, "5"}, {50, "10"},  {60, "\xE2\x88\x9E"}};
    for (const auto &mj : majors) {
        Tick(m, mj.pos, n, kMajor, 2.2);
        Label(m, mj.pos, n, mj.text);
    }
    double x, y;
    Along(m, 30, n, 0.66, &x, &y);
    TextCentered(F_SMALL, static_cast<int>(x), static_cast<int>(y), "SWR", {90, 86, 78});
}

void Hub(Meter m) {
    Disk(m.px, m.py, 13, {70, 70, 74});
    Disk(m.px, m.py, 10, {120, 120, 126});
    Disk(m.px - 2, m.py - 2, 4, {170, 170, 176});
}

// Meter faces: one cream window holding both meters, the information area
// below it left dark for the boxes the program draws there.
void MeterPicture(int fwdFull, bool swrRight) {
    Panel();
    RoundRect(8, 6, 792, 276, 14, kFaceEdge);
    RoundRect(11, 9, 789, 273, 12, kFace);
    // A slight shading towards the bottom of the face.
    for (int y = 200; y < 271; y++) {
        double a = (y - 200) / 71.0 * 0.10;
        for (int x = 14; x < 786; x++)
            Plot(x, y, {180, 170, 140}, a);
    }
    // Divider between the meters, below the frequency caption.
    Segment(400, 80, 400, 262, 1.0, kFaceEdge);
    PowerScale(kLeft, fwdFull, fwdFull * 5 / 6);
    if (swrRight)
        SwrScale(kRight);
    else
        PowerScale(kRight, 60, 50);
    Hub(kLeft);
    Hub(kRight);
    TextCentered(F_TINY, 400, 266, "HELIX", {150, 142, 120});
}

// ---- other pictures ----

// A stylised helix: two interleaved sine strands with rungs.
void Helix(int x0, int x1, int cy, int amp) {
    const double period = 120;
    for (int x = x0; x < x1; x += 12) {
        double ph = (x - x0) / period * 2 * M_PI;
        double ya = cy + amp * std::sin(ph), yb = cy - amp * std::sin(ph);
        Segment(x, ya, x, yb, 1.2, {60, 70, 90});
    }
    double pa = 0, pb = 0;
    for (int x = x0; x <= x1; x += 2) {
        double ph = (x - x0) / period * 2 * M_PI;
        double ya = cy + amp * std::sin(ph), yb = cy - amp * std::sin(ph);
        if (x > x0) {
            Segment(x - 2, pb, x, yb, 2.0, {40, 150, 200});
            Segment(x - 2, pa, x, ya, 2.6, kAmber);
        }
        pa = ya;
        pb = yb;
    }
}

void Splash(bool highPower) {
    Gradient(0, 0, W, 370, {16, 22, 38}, {6, 8, 14});
    FillRect(0, 370, W, H, {6, 8, 14});
    Helix(60, 740, 70, 22);
    TextCentered(F_TITLE, 400, 230, "HELIX", {255, 255, 255});
    Segment(200, 252, 600, 252, 2.0, kAmber);
    TextCentered(F_SUB, 400, 290, "HF LINEAR AMPLIFIER  \xC2\xB7  AUTOMATIC ANTENNA TUNER",
                 {255, 255, 255});
    char line[64];
    std::snprintf(line, sizeof line, "%s  \xC2\xB7  Software %s", highPower ? "120 W" : "60 W",
                  kSwVersion);
    TextCentered(F_SMALL, 400, 325, line, {170, 180, 200});
}

void PlainPage() {
    Panel();
    FillRect(0, 0, W, 26, {24, 26, 30});
    Hline(0, 26, W, kAmber);
    Text(F_HEAD, 8, 20, "HELIX", {255, 255, 255});
}

void StatusPage() {
    PlainPage();
    TextCentered(F_HEAD, 400, 68, "SYSTEM STATUS", {255, 255, 255});
    Hline(300, 78, 500, {90, 92, 100});
    // Row bands behind the label/value rows at y 110, 132, ... 352.
    for (int k = 0; k < 12; k++) {
        int base = 110 + 22 * k;
        FillRect(0, base - 17, W, base + 5, k % 2 == 0 ? Rgb{30, 33, 40} : Rgb{22, 24, 29});
    }
    Segment(172, 93, 172, 357, 1.0, {70, 74, 84});
}

void PlotPicture() {
    Panel();
    RoundRect(8, 6, 792, 268, 12, {54, 58, 68});
    RoundRect(10, 8, 790, 266, 11, {8, 12, 22});
    // The grid area the plot code fills: x 70..758, y 60..230.
    Gradient(70, 60, 759, 231, {14, 22, 40}, {6, 10, 20});
    Text(F_TINY, 700, 26, "SPECTRUM", {120, 126, 140});
}

bool Save(const std::string &dir, const char *name) {
    std::string path = dir + "/" + name + ".png";
    if (WritePngFromBgrx(path.c_str(), fb.workMem, W, H, static_cast<int>(fb.lineSize)) != 0) {
        std::fprintf(stderr, "helix-pictures: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    std::string dir = argc > 1 ? argv[1] : ".";
    std::vector<uint8_t> screen(static_cast<size_t>(W) * H * 4);
    if (fbSetup(&fb, W, H, 32, screen.data()) != 0) return 1;
    const std::string dejavu = "/usr/share/fonts/truetype/dejavu/";
    TTFLoad(ResolvePath("/opt/fonts/PTS75F_W.ttf").c_str(), 150, F_TITLE);
    if (face[F_TITLE] == nullptr) // outside a unit root: the packaged face
        TTFLoad("/usr/share/fonts/truetype/paratype/PTS75F.ttf", 150, F_TITLE);
    TTFLoad(ResolvePath(dejavu + "DejaVuSans.ttf").c_str(), 20, F_SUB);
    TTFLoad(ResolvePath(dejavu + "DejaVuSans-Bold.ttf").c_str(), 15, F_SCALE);
    TTFLoad(ResolvePath(dejavu + "DejaVuSans.ttf").c_str(), 13, F_SMALL);
    TTFLoad(ResolvePath(dejavu + "DejaVuSans-Bold.ttf").c_str(), 18, F_HEAD);
    TTFLoad(ResolvePath(dejavu + "DejaVuSans-Bold.ttf").c_str(), 11, F_TINY);
    for (int s : {F_TITLE, F_SUB, F_SCALE, F_SMALL, F_HEAD, F_TINY})
        if (face[s] == nullptr) {
            std::fprintf(stderr, "helix-pictures: fonts missing\n");
            return 1;
        }

    bool ok = true;
    Splash(false);
    ok &= Save(dir, "start");
    Splash(true);
    ok &= Save(dir, "start120");
    PlainPage();
    ok &= Save(dir, "statusB");
    StatusPage();
    ok &= Save(dir, "status");
    MeterPicture(60, false);
    ok &= Save(dir, "img1");
    MeterPicture(120, false);
    ok &= Save(dir, "img1b");
    MeterPicture(60, true);
    ok &= Save(dir, "img3");
    MeterPicture(120, true);
    ok &= Save(dir, "img3b");
    PlotPicture();
    ok &= Save(dir, "m5a");
    return ok ? 0 : 1;
}
