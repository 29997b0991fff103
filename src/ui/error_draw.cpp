#include "ui/error_draw.h"

#include "model/errors.h"
#include "model/remote_link.h"
#include "model/works.h"
#include "display/graph.h"
#include "display/ttf.h"

namespace {

constexpr int kSlots = 6;
constexpr int kSlotX[kSlots][2] = {{5, 130},   {133, 263}, {266, 396},
                                   {399, 529}, {532, 662}, {665, 795}};

// One box: red for an alarm, orange for a warning, framed in white, with the
// code's title and text.
void DrawTastoErrore(Works *w, int x0, int x1, int code) {
    FbScreen *fb = &w->fb;
    bool alarm = (w->errTab[code].type & kErrTypeAlarm) != 0;
    for (int y = 370; y <= 414; y++) {
        if (alarm)
            DrawHorizontalLine(x0, y, x1, 255, 30, 0, fb, 0);
        else
            DrawHorizontalLine(x0, y, x1, 250, 150, 0, fb, 0);
    }
    DrawLine(x0, 370, x0, 415, 255, 255, 255, fb, 0);
    DrawLine(x1, 370, x1, 415, 255, 255, 255, fb, 0);
    DrawHorizontalLine(x0 + 1, 370, x1 + 1, 255, 255, 255, fb, 0);
    DrawHorizontalLine(x0 + 1, 415, x1 + 1, 255, 255, 255, fb, 0);
    putString(10, x0 + 4, 390, w->errTab[code].title, 250, 250, 250, fb, 0, 0, 0, 0);
    putString(10, x0 + 4, 410, ErrText(w, code).c_str(), 250, 250, 250, fb, 0, 0, 0, 0);
}

} // namespace

void DrawError(Works *w) {
    if (w->screenFlags.load() != 0) return;
    int codes[kErrCodes + 1];
    int n = ErrListSnapshot(w, codes);
    // A remote station shows its server's last error too, newest of all.
    RemoteStatus r;
    if (RemoteStatusShown(w, &r) && r.err >= 0) {
        int kept = 0;
        for (int i = 0; i < n; i++)
            if (codes[i] != r.err) codes[kept++] = codes[i];
        codes[kept] = r.err;
        n = kept + 1;
    }
    // With more than six codes the six newest are shown.
    int first = n > kSlots ? n - kSlots : 0;
    for (int k = 0; first + k < n && k < kSlots; k++) {
        int code = codes[first + k];
        if (code < 0 || code >= kErrCodes) continue;
        DrawTastoErrore(w, kSlotX[k][0], kSlotX[k][1], code);
    }
}
