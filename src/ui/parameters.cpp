#include "ui/parameters.h"

#include "model/works.h"
#include "display/graph.h"
#include "display/ttf.h"
#include "model/plot_state.h"
#include "config/network.h"
#include "ui/menu.h"
#include "ui/status.h"

#include <cstdio>
#include <cstring>

uint8_t *LAN_vect = IP_v;
int LAN_idx = 3;

namespace {

constexpr int kValueLen = 32;
constexpr uint8_t kOrange[3] = {250, 150, 0};

const char *const kTimeoutNames[5] = {"25sec", "20sec", "15sec", "10sec", "5sec"};
const char *const kSaveScreenNames[5] = {"5min", "10min", "20min", "30min", "60min"};

// Pages whose value exists for item 0 only.
bool ItemZeroOnly(int page) {
    return page == 8 || page == 19 || page == 20 || (page >= 24 && page <= 26) ||
           (page >= 28 && page <= 31);
}

const char *OnOff(bool on) {
    return on ? "ON" : "OFF";
}

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
    if (!current) {
        for (auto [x, text] : {std::pair{20, id}, {70, title}, {350, caption}})
            Text(w, 1, x, y, text, kOrange[0], kOrange[1], kOrange[2]);
        TextRight(w, 11, 790, y, value, kOrange[0], kOrange[1], kOrange[2]);
        return;
    }
    for (auto [x, text] : {std::pair{20, id}, {70, title}, {350, caption}})
        Text(w, 7, x, y, text, 255, 255, 255);
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
    bool overStatus = (w->screenFlags.load() & 1) != 0;
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
    int rows = w->memRows.load();
    if (rows > kAntRows) rows = kAntRows;
    int cur = w->memRow.load(), col = w->memCol.load();
    static const int kColX[5] = {170, 250, 350, 470, 540};
    for (int i = 0; i < rows; i++) {
        const AntennaRow &r = w->antTab[i];
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
    uint8_t *b;
    int *cnt;
    switch (page) {
    case 10:
        b = NetMask_v, cnt = &CntNetMask;
        break;
    case 11:
        b = Gateway_v, cnt = &CntGateway;
        break;
    case 12:
        b = DNS_v, cnt = &CntDNS;
        break;
    default:
        b = IP_v, cnt = &CntIP;
        break;
    }
    // The cursor is a group 0-3; anything else points at the last group.
    int g = *cnt >= 0 && *cnt <= 3 ? *cnt : 3;
    LAN_vect = b;
    LAN_idx = g;
    *bytes = b;
    *group = g;
}

void LoadParameterMenu(Works *w, char *out, int page, int item) {
    out[0] = '\0';
    if (ItemZeroOnly(page) && item != 0) return;
    switch (page) {
    case 0:
        std::snprintf(out, kValueLen, "%d", w->maxBank.load());
        break;
    case 1:
        std::snprintf(out, kValueLen, "%s", w->fsMode.load() == 0 ? "FQ1" : "FQ2");
        break;
    case 2:
        std::snprintf(out, kValueLen, "%d", w->fsValue.load());
        break;
    case 3:
        std::snprintf(out, kValueLen, "%s", (w->tuneOpt.load() & 1) ? "On" : "Off");
        break;
    case 4:
        std::snprintf(out, kValueLen, "%sdB", AttenuatorName(w->attenuatorTune.load()));
        break;
    case 5:
        std::snprintf(out, kValueLen, "%02.02f", static_cast<double>(w->swrTarget.load()));
        break;
    case 6: {
        int idx = w->swrTimeoutIdx.load();
        std::snprintf(out, kValueLen, "%s", idx <= 4 ? kTimeoutNames[idx] : "-");
        break;
    }
    case 7:
        std::snprintf(out, kValueLen, "%s", (w->tuneEnabled.load() & 0x80) ? "No" : "Yes");
        break;
    case 8:
        std::snprintf(out, kValueLen, "%s", w->remoteOn.load() == 1 ? "Remote" : "Local");
        break;
    case 9:
    case 10:
    case 11:
    case 12: {
        const uint8_t *bytes;
        int group;
        LanPage(page, &bytes, &group);
        SplitAddrInv(out, bytes);
        break;
    }
    case 13:
        std::snprintf(out, kValueLen, "%d", RefLevel.load());
        break;
    case 14:
        std::snprintf(out, kValueLen, "%d", RefPos.load());
        break;
    case 15:
        std::snprintf(out, kValueLen, "%d", PointDiv.load());
        break;
    case 16:
        std::snprintf(out, kValueLen, "%3.02f", w->offsetPlot);
        break;
    case 17:
        std::snprintf(out, kValueLen, "%s", OnOff(w->filterView.load() != 0));
        break;
    case 18:
        std::snprintf(out, kValueLen, "%s", OnOff(w->viewTimeStr.load() != 0));
        break;
    case 19:
        std::snprintf(out, kValueLen, "%s", w->tempUnits.load() == 1 ? "Fahrenheit" : "Celsius");
        break;
    case 20:
        std::snprintf(out, kValueLen, "%s", OnOff(w->auxFwdEnable.load() != 0));
        break;
    case 21:
        std::snprintf(out, kValueLen, "%i", TimerPeakSec.load());
        break;
    case 22:
        std::snprintf(out, kValueLen, "%02.02f", static_cast<double>(w->tempMax1.load()));
        break;
    case 23:
        std::snprintf(out, kValueLen, "%02.02f", static_cast<double>(w->tempMax2.load()));
        break;
    case 24:
        std::snprintf(out, kValueLen, "%s", w->powerUnits.load() == 1 ? "dBm" : "Watt");
        break;
    case 25: {
        int idx = w->saveScreenIdx.load();
        std::snprintf(out, kValueLen, "%s", idx <= 4 ? kSaveScreenNames[idx] : "-");
        break;
    }
    case 26:
        std::snprintf(out, kValueLen, "%s",
                      w->factoryDefault.load() == 1 ? "Set Default" : "No Default");
        break;
    case 27:
        std::snprintf(out, kValueLen, "%01.01f sec", TIME_LONG_PRESS);
        break;
    case 28:
        std::snprintf(out, kValueLen, "OFF");
        break;
    case 29:
        std::snprintf(out, kValueLen, "%s", OnOff(w->linkFlags.load() & 1));
        break;
    case 30:
        std::snprintf(out, kValueLen, "%s", OnOff(w->linkFlags.load() & 8));
        break;
    case 31:
        std::snprintf(out, kValueLen, "%s", OnOff(w->linkFlags.load() & 2));
        break;
    default:
        break;
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
    else if (flags & 2)
        DrawMemoryTable(w);
    else if (flags & 4)
        DrawFilterTable(w);
    else if (flags == 0)
        DrawInfoBar(w);
}
