#include "ui/parameters.h"

#include "model/works.h"
#include "display/graph.h"
#include "display/ttf.h"
#include "config/network.h"
#include "ui/fault_page.h"
#include "ui/menu.h"
#include "ui/param_pages.h"
#include "ui/status.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

uint8_t *LAN_vect = IP_v;
int LAN_idx = 3;

namespace {

constexpr int kValueLen = 32;
constexpr uint8_t kOrange[3] = {250, 150, 0};

void Text(Works *w, int slotNo, int x, int y, const char *text, int r, int g, int b) {
    putString(slotNo, x, y, text, r, g, b, &w->fb, 0, 0, 0, 0);
}

void TextRight(Works *w, int slotNo, int xEnd, int y, const char *text, int r, int g, int b) {
    Text(w, slotNo, xEnd - getStringSpace(slotNo, text), y, text, r, g, b);
}

// A page's title as drawn: a title that fills its 20 bytes runs on into the
// caption of item 0, as on the unit, but never past that caption.
void PageTitle(const ParPage &p, char *out, size_t cap) {
    size_t n = strnlen(p.title, sizeof p.title);
    if (n < sizeof p.title)
        std::snprintf(out, cap, "%s", p.title);
    else
        std::snprintf(out, cap, "%.*s%.*s", static_cast<int>(sizeof p.title), p.title,
                      static_cast<int>(sizeof p.item[0].caption), p.item[0].caption);
}

// One row of the list: number, title, caption and value.
void DrawPageRow(Works *w, int page, int item, int y, bool current) {
    const ParPage &p = menuPar[page];
    char id[16], title[48], caption[24], value[kValueLen];
    std::snprintf(id, sizeof id, "%d -", p.id);
    PageTitle(p, title, sizeof title);
    std::snprintf(caption, sizeof caption, "%.*s", static_cast<int>(sizeof p.item[0].caption),
                  p.item[item].caption);
    LoadParameterMenu(w, value, page, item);
    // The title starts at 70, or a blank after the number where the number
    // (in the current row's larger face) reaches further.
    const int font = current ? 7 : 1;
    const int titleX = std::max(70, 20 + getStringSpace(font, id) + getStringSpace(font, " "));
    if (!current) {
        for (auto [x, text] : {std::pair{20, id}, {titleX, title}, {350, caption}})
            Text(w, font, x, y, text, kOrange[0], kOrange[1], kOrange[2]);
        TextRight(w, 11, 790, y, value, kOrange[0], kOrange[1], kOrange[2]);
        return;
    }
    for (auto [x, text] : {std::pair{20, id}, {titleX, title}, {350, caption}})
        Text(w, font, x, y, text, 255, 255, 255);
    int menu = w->menuIdx.load();
    if (menu == 1) {
        TextRight(w, 0, 790, y, value, 255, 255, 255);
    } else if (page >= 9 && page <= 12) {
        // The address in three pieces: the groups before the edited one, the
        // edited group in white, and the groups after it.
        const uint8_t *bytes;
        int group;
        LanPage(page, &bytes, &group);
        char before[20] = "", mid[8], after[20] = "";
        for (int i = 0; i < group; i++)
            std::snprintf(before + std::strlen(before), sizeof before - std::strlen(before), "%i.",
                          bytes[i]);
        std::snprintf(mid, sizeof mid, "%i", bytes[group]);
        for (int i = group + 1; i < 4; i++)
            std::snprintf(after + std::strlen(after), sizeof after - std::strlen(after), ".%i",
                          bytes[i]);
        if (before[0] == '\0') std::snprintf(before, sizeof before, " ");
        if (after[0] == '\0') std::snprintf(after, sizeof after, " ");
        int x = 790 - getStringSpace(7, after);
        Text(w, 7, x, y, after, kOrange[0], kOrange[1], kOrange[2]);
        x -= getStringSpace(7, mid);
        Text(w, 7, x, y, mid, 250, 250, 250);
        x -= getStringSpace(7, before);
        Text(w, 7, x, y, before, kOrange[0], kOrange[1], kOrange[2]);
    } else {
        TextRight(w, 7, 790, y, value, 250, 250, 250);
    }
}

void DrawParameterList(Works *w) {
    bool overStatus = (w->screenFlags.load() & kScreenStatus) != 0;
    int top = overStatus ? 335 : 285, prevY = overStatus ? 355 : 305;
    int curY = overStatus ? 385 : 335, nextY = overStatus ? 410 : 360;
    int bottom = overStatus ? 415 : 365;
    int bandTop = overStatus ? 360 : 310, bandBottom = overStatus ? 390 : 340;
    for (int y = top; y < bottom; y++) {
        if (y > bandTop && y < bandBottom)
            DrawHorizontalLine(1, y, 799, 80, 80, 80, &w->fb, 0);
        else
            DrawHorizontalLine(1, y, 799, 40, 40, 40, &w->fb, 0);
    }
    int page = w->parPage.load();
    if (page < 0 || page >= kParPages) page = 0;
    int item = w->parItem.load();
    if (item < 0 || item >= kParItems) item = 0;
    DrawPageRow(w, page == 0 ? kParPages - 1 : page - 1, 0, prevY, false);
    DrawPageRow(w, page + 1 == kParPages ? 0 : page + 1, 0, nextY, false);
    DrawPageRow(w, page, item, curY, true);
}

void DrawMemoryTable(Works *w) {
    char buf[96];
    std::snprintf(buf, sizeof buf, " Memory Table Bank %i - Interface: %s", w->numBanco.load(),
                  InterfaceName(w->ModeWorkIdx.load()));
    Text(w, 0, 100, 50, buf, kOrange[0], kOrange[1], kOrange[2]);
    Text(w, 8, 50, 100, "N     Band     Pwr    Att(dB)  AmpEnable    Ant       Atu", 250, 250, 250);
    AntennaRow tab[kAntRows];
    int rows = CopyAntTab(w, tab);
    int cur = w->memRow.load(), col = w->memCol.load();
    static const int kColX[5] = {170, 250, 350, 470, 540};
    for (int i = 0; i < rows; i++) {
        const AntennaRow &r = tab[i];
        int y = 130 + 22 * i;
        bool here = i == cur;
        int cr = here ? kOrange[0] : 250, cg = here ? kOrange[1] : 250,
            cb = here ? kOrange[2] : 250;
        char cells[5][16];
        std::snprintf(cells[0], sizeof cells[0], "%2.1f", static_cast<double>(r.pwr));
        std::snprintf(cells[1], sizeof cells[1], "%s", AttenuatorName(r.att <= 3 ? r.att : -1));
        std::snprintf(cells[2], sizeof cells[2], "%s", r.ampEnable == 1 ? "On" : "Off");
        std::snprintf(cells[3], sizeof cells[3], "%x", r.ant);
        std::snprintf(cells[4], sizeof cells[4], "%s", r.atuOff == 1 ? "Off" : "On");
        std::snprintf(buf, sizeof buf, "%i", i + 1);
        Text(w, 8, 50, y, buf, cr, cg, cb);
        std::snprintf(buf, sizeof buf, "%.*s", static_cast<int>(sizeof r.name), r.name);
        Text(w, 8, 90, y, buf, cr, cg, cb);
        for (int c = 0; c < 5; c++) {
            if (here && c == col)
                Text(w, 7, kColX[c], y, cells[c], 255, 0, 0);
            else
                Text(w, 8, kColX[c], y, cells[c], cr, cg, cb);
        }
    }
}

void DrawFilterTable(Works *w) {
    char buf[32];
    Text(w, 0, 250, 50, "FILTER SETTINGS", kOrange[0], kOrange[1], kOrange[2]);
    Text(w, 8, 50, 100, "N    Start (Hz)                 Stop(Hz)                   Enabled", 250,
         250, 250);
    int cur = w->filterRow.load();
    for (int i = 0; i < kFilterRows; i++) {
        const FilterRow &r = w->filterTab[i];
        int y = 130 + 22 * i;
        bool here = i == cur;
        int cr = here ? kOrange[0] : 250, cg = here ? kOrange[1] : 250,
            cb = here ? kOrange[2] : 250;
        std::snprintf(buf, sizeof buf, "%i", i + 1);
        Text(w, 8, 50, y, buf, cr, cg, cb);
        std::snprintf(buf, sizeof buf, "%d", r.fStart);
        Text(w, 8, 90, y, buf, cr, cg, cb);
        std::snprintf(buf, sizeof buf, "%d", r.fStop);
        Text(w, 8, 290, y, buf, cr, cg, cb);
        Text(w, 8, 490, y, (r.enabled & 0xff) == 1 ? "On" : "Off", cr, cg, cb);
    }
}

} // namespace

void LanPage(int page, const uint8_t **bytes, int *group) {
    const LanAddr &a = LanAddrOf(page);
    // The cursor is a group 0-3; anything else points at the last group.
    int g = *a.group >= 0 && *a.group <= 3 ? *a.group : 3;
    LAN_vect = a.bytes;
    LAN_idx = g;
    *bytes = a.bytes;
    *group = g;
}

void LoadParameterMenu(Works *w, char *out, int page, int item) {
    out[0] = '\0';
    if (page < 0 || page >= kParPages) return;
    const ParamPage &p = kParamPages[page];
    if ((p.itemZero & kShowItem0) && item != 0) return;
    if (p.lan != nullptr) {
        const uint8_t *bytes;
        int group;
        LanPage(page, &bytes, &group);
        SplitAddrInv(out, bytes);
        return;
    }
    double v = p.value.get != nullptr ? p.value.get(w) : 0;
    if (p.names[0] != nullptr) {
        int i = static_cast<int>(v);
        const char *name = i >= 0 && i < 5 && p.names[i] != nullptr ? p.names[i] : "-";
        std::snprintf(out, kValueLen, p.format, name);
    } else if (p.scale == 1) {
        std::snprintf(out, kValueLen, p.format, static_cast<int>(v));
    } else {
        std::snprintf(out, kValueLen, p.format, v);
    }
}

void DrawParameters(Works *w) {
    if (w->portError.load() > 0) return;
    int menu = w->menuIdx.load();
    int flags = w->screenFlags.load();
    if (menu == 1 || menu == 2)
        DrawParameterList(w);
    else if (w->linkFlags.load() & 4)
        Text(w, 8, 100, 400, "FW UPDATE: please update fw with FlashMagic and then Reset HW", 250,
             250, 250);
    else if (flags & kScreenMemory)
        DrawMemoryTable(w);
    else if (flags & kScreenFilter)
        DrawFilterTable(w);
    else if (flags & kScreenFaults)
        DrawFaultHistory(w);
    else if (flags == 0)
        DrawInfoBar(w);
}
