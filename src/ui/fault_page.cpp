#include "ui/fault_page.h"

#include "display/fb.h"
#include "display/graph.h"
#include "display/ttf.h"
#include "model/errors.h"
#include "model/fault_history.h"
#include "model/readings.h"
#include "model/screen.h"
#include "model/works.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t kEntriesRead = 1000;
constexpr uint8_t kOrange[3] = {250, 150, 0};

// The lines the page shows, read again when the history got new lines or the
// page was opened (only the supervisor draws; the keys ask for a reload).
std::vector<std::string> gLines;
uint32_t gLinesGeneration = 0;
std::atomic<bool> gReload{true};

void Text(Works *w, int slotNo, int x, int y, const char *text, int r, int g, int b) {
    putString(slotNo, x, y, text, r, g, b, &w->fb, 0, 0, 0, 0);
}

void ShowPicture(Works *w, const char *image) {
    ShowBackground(w, image);
}

// One entry in three rows from baseline `y`: when and what, the readings,
// where the amplifier stood.
void DrawEntry(Works *w, const FaultEntry &e, int y) {
    bool acked = e.event[1] == 'C';
    bool alarm = e.code >= 0 && e.code < kErrCodes && (w->errTab[e.code].type & kErrTypeAlarm) != 0;
    int r = acked   ? 170
            : alarm ? 255
                    : kOrange[0],
        g = acked   ? 170
            : alarm ? 80
                    : kOrange[1],
        b = acked   ? 170
            : alarm ? 60
                    : kOrange[2];
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s %s   %s   %d  %s", e.date, e.time,
                  acked ? "acknowledged" : "raised", e.code, e.text);
    Text(w, 10, 20, y, buf, r, g, b);
    bool f = w->tempUnits.load() == 1;
    auto T = [f](float c) {
        return static_cast<double>(f ? ConversionCelsius_to_Fahrenheit(c) : c);
    };
    std::snprintf(buf, sizeof buf,
                  "Fwd %.1fW  Rfl %.1fW  In %.2fW  SWR %.2f   T1 %.1f%s  T2 %.1f%s   %.1fV  %.1fA",
                  static_cast<double>(e.fwd), static_cast<double>(e.refl),
                  static_cast<double>(e.in), static_cast<double>(e.swr), T(e.t1), f ? "°F" : "°C",
                  T(e.t2), f ? "°F" : "°C", static_cast<double>(e.volt),
                  static_cast<double>(e.amp));
    Text(w, 10, 40, y + 20, buf, 250, 250, 250);
    std::snprintf(buf, sizeof buf, "%ld Hz   Band row %d   Ant %d   Bank %d   %s   Tuner %08X%s",
                  static_cast<long>(e.freq), e.bandRow, e.ant, e.bank, e.mode, e.word,
                  e.tune ? "   tuning" : "");
    Text(w, 10, 40, y + 40, buf, 0, 200, 255);
}

} // namespace

void OpenFaultHistory(Works *w) {
    w->screenFlags = kScreenFaults;
    w->faultTop = 0;
    gReload = true;
    ShowPicture(w, "statusB");
    w->menuIdx = kMenuFaults;
}

int KeysFaultHistory(Works *w, int key, bool isLong) {
    switch (key) {
    case 1:
        w->screenFlags = kScreenStatus;
        ShowPicture(w, "status");
        w->menuIdx = 0;
        return 0;
    case 3:
        w->faultTop = std::max(0, w->faultTop.load() - 1);
        return isLong ? 1 : 0;
    case 4:
        w->faultTop = w->faultTop.load() + 1; // the page keeps it within the list
        return isLong ? 1 : 0;
    default:
        return 0;
    }
}

void DrawFaultHistory(Works *w) {
    uint32_t gen = FaultHistoryGeneration(w);
    const bool fresh = gReload.exchange(false);
    if (fresh || gen != gLinesGeneration) {
        // The view stays on the entries the operator scrolled to: new faults
        // come in at the top (newest first), so the first entry shown is
        // looked up again at or after its old place.
        const size_t old = static_cast<size_t>(std::max(0, w->faultTop.load()));
        std::string anchor = !fresh && old < gLines.size() ? gLines[old] : std::string();
        gLines = FaultHistoryRead(kEntriesRead);
        gLinesGeneration = gen;
        for (size_t i = old; !anchor.empty() && i < gLines.size(); i++)
            if (gLines[i] == anchor) {
                w->faultTop = static_cast<int32_t>(i);
                break;
            }
    }
    const int n = static_cast<int>(gLines.size());
    int top = std::clamp(w->faultTop.load(), 0, std::max(0, n - kFaultsPerPage));
    if (top != w->faultTop.load()) w->faultTop = top;
    Text(w, 0, 100, 50, " Fault History", kOrange[0], kOrange[1], kOrange[2]);
    char buf[64];
    if (n == 0) {
        Text(w, 8, 50, 130, "No faults recorded", 250, 250, 250);
        return;
    }
    std::snprintf(buf, sizeof buf, "%d-%d of %d, newest first", top + 1,
                  std::min(n, top + kFaultsPerPage), n);
    Text(w, 8, 790 - getStringSpace(8, buf), 50, buf, 250, 250, 250);
    for (int i = 0; i < kFaultsPerPage && top + i < n; i++) {
        int y = 100 + 62 * i;
        if (i > 0) DrawHorizontalLine(10, y - 19, 790, 70, 70, 70, &w->fb, 0);
        FaultEntry e;
        if (FaultHistoryParse(gLines[static_cast<size_t>(top + i)], &e))
            DrawEntry(w, e, y);
        else
            Text(w, 10, 20, y, gLines[static_cast<size_t>(top + i)].substr(0, 70).c_str(), 170, 170,
                 170);
    }
}
