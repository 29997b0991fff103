#include "ui/view.h"

#include "model/works.h"
#include "display/fb.h"
#include "display/png.h"
#include "model/screen.h"
#include "model/plot_state.h"

#include <cstdio>

void SetWorkImg(Works *w) {
    std::lock_guard<std::recursive_mutex> frame(w->frameLock);
    int view = w->viewType.load();
    bool big = w->powerClass.load() == '1';
    const char *image;
    if (view == 4 || view == 5) {
        image = "m5a";
        // The plot's division count, span and x range follow the view.
        divX = view == 4 ? 16 : 8;
        w->spanHz = view == 4 ? 160000 : 80000;
        xRangeEnd = view == 4 ? 854 : 427;
    } else if (view == 2) {
        image = big ? "img3b" : "img3";
    } else {
        // Views 1 and 3, and the meter face for a view number out of range.
        image = big ? "img1b" : "img1";
    }
    ShowBackground(w, image);
    TavLinkOffOutsideTavMode(w);
}

void TavLinkOffOutsideTavMode(Works *w) {
    if (w->ModeWorkIdx.load() != 1) w->setup->EnableSerial = '0';
}

void SetPageImg(Works *w) {
    const int flags = w->screenFlags.load();
    const char *image = (flags & kScreenStatus)                                     ? "status"
                        : (flags & (kScreenMemory | kScreenFilter | kScreenFaults)) ? "statusB"
                                                                                    : nullptr;
    if (image == nullptr) {
        SetWorkImg(w);
        return;
    }
    ShowBackground(w, image);
}

int EscFromStatus(Works *w) {
    if (!(w->screenFlags.load() & kScreenStatus)) return 0;
    w->screenFlags.fetch_and(~kScreenStatus);
    SetWorkImg(w);
    return 1;
}
