#include "ui/menu.h"

#include "model/tuner_word.h"
#include "model/errors.h"
#include "model/remote_link.h"
#include "model/works.h"
#include "display/fb.h"
#include "display/graph.h"
#include "display/ttf.h"
#include "ui/error_draw.h"
#include "ui/param_pages.h"
#include "ui/parameters.h"
#include "ui/status.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

MenuRow Novamenu[kMenus];
ParPage menuPar[kParPages];
const char attNames[5][8] = {"0", "2", "3", "5", "StBy"};
const char MODEwork[kModeWorks][8] = {"Generic", "ZMXTAV", " FT-817", "rigctld",
                                           "Logger"};

namespace {

// Soft-key colours and the bar's place on the screen.
constexpr uint8_t kOrange[3] = {250, 150, 0};
constexpr int kBarTop = 420, kBarBottom = 479;

struct KeyGeometry {
    int x0, x1;           // fill, x0 <= x < x1
    int line1X, line2X;   // text positions (line 1 at y 445, line 2 at y 472)
    int blank1X, blank2X; // where a blanked key draws its " " (0: never blanked)
};
constexpr int kLine1Y = 445, kLine2Y = 472;
constexpr KeyGeometry kKeys[kMenuKeys] = {
    {0, 130, 20, 30, 0, 0},     {133, 263, 143, 153, 143, 143}, {266, 396, 276, 286, 286, 286},
    {399, 529, 409, 419, 0, 0}, {532, 662, 542, 552, 0, 0},     {665, 799, 675, 695, 685, 715},
};

// Line 1 / line 2 of keys 1-6 of menus 0-13 as first written; cells that a
// label writer fills start empty.
constexpr const char *kMenuText[14][2 * kMenuKeys] = {
    {"  MEM", "", " IN-ATT", "", "   ANT", "", "  TUNE", " ", "   SET", " ", "   VIEW ", " 1 "},
    {" BACK ", " ", "  ", " ", "    UP", " ", "  DOWN", " ", " ", " ", "  ENTER", " "},
    {" ", " ", " < ", " ", "   > ", " ", "      - ", " ", "     + ", " ", "  ENTER", " "},
    {" BACK ", " ", " ", " ", " ", " ", "  TUNE", " ", "   ATU", "Off", "MANUAL", "Tune"},
    {" BACK ", "", " down L", " ", "   up L", "", " down C", " ", "   up C", "", "STARTTX", " "},
    {"  ", " ", "  ", " ", "    ", " ", "     ", " ", " Retry", " ", "Cancel", " "},
    {" BACK", " ", " INTERF", "", "    UP", " ", "  DOWN", " ", "   UTIL", " ", " ENTER", " "},
    {"BACK", " ", "  <", " ", "    >", " ", "  + ", " ", " - ", " ", "SAVE", " "},
    {"  ESC", " ", "  BANK", "", "   ANT", "", " ", " ", " ", " ", "   SAVE", " "},
    {"BACK", " ", "  COPY", " ", "   RESET", " ", "  ", " ", " ", " ", " ", " "},
    {"BACK", " ", " ORIGIN", "", "  DEST", "", "  ", " ", " ", " ", " START", "COPY"},
    {"BACK", " ", " BANK", "", "  ", " ", "  ", " ", " ", " ", " START", "RESET"},
    {" ESC", " ", "    UP", " ", "  DOWN", " ", " ", " ", "Enable", " ", "Disable", " "},
    {" BACK ", " ", "  ", " ", "    UP", " ", "  DOWN", " ", " ", " ", " ", " "},
};

void SetLabel(int menu, int key, int line, const char *text) {
    std::snprintf(KeyLabel(menu, key, line), kLabelLen, "%s", text);
}

// Formats a label cell; a text longer than the cell loses its end.
__attribute__((format(printf, 4, 5))) void SetLabelf(int menu, int key, int line, const char *fmt,
                                                     ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(KeyLabel(menu, key, line), kLabelLen, fmt, ap);
    va_end(ap);
}

void DrawKeyText(Works *w, int x, int y, int slotNo, const char *text) {
    putString(slotNo, x, y, text, kOrange[0], kOrange[1], kOrange[2], &w->fb, 0, 0, 0, 0);
}

void DrawKeyLabels(Works *w, int key, const char *line1, const char *line2) {
    const KeyGeometry &k = kKeys[key - 1];
    DrawKeyText(w, k.line1X, kLine1Y, 0, line1);
    DrawKeyText(w, k.line2X, kLine2Y, 1, line2);
}

void DrawKeyBlank(Works *w, int key) {
    const KeyGeometry &k = kKeys[key - 1];
    DrawKeyText(w, k.blank1X, kLine1Y, 0, " ");
    DrawKeyText(w, k.blank2X, kLine2Y, 1, " ");
}

// The item the parameter editor points at, or null when page or item is out of range.
const ParItem *CurrentItem(Works *w) {
    int page = w->parPage.load(), item = w->parItem.load();
    if (page < 0 || page >= kParPages || item < 0 || item >= kParItems) return nullptr;
    return &menuPar[page].item[item];
}

} // namespace

char *KeyLabel(int menu, int key, int line) {
    static char scratch[kLabelLen];
    if (menu < 0 || menu >= kMenus || key < 1 || key > kMenuKeys || line < 1 || line > 2)
        return scratch;
    return Novamenu[menu].label[2 * (key - 1) + (line - 1)];
}

const char *InterfaceName(int idx) {
    return idx >= 0 && idx < kModeWorks ? MODEwork[idx] : "---";
}

const char *AttenuatorName(int idx) {
    return idx >= 0 && idx < 5 ? attNames[idx] : "-";
}

void InitMenuNova(Works *w) {
    std::memset(menuPar, 0, sizeof menuPar);
    std::memset(Novamenu, 0, sizeof Novamenu);
    w->parPages = kParPages;
    for (int p = 0; p < kParPages; p++) {
        ParPage &page = menuPar[p];
        const ParamPage &def = kParamPages[p];
        page.id = def.id;
        // The title may fill all 20 bytes; then it has no terminator.
        std::memcpy(page.title, def.title, std::min(sizeof page.title, std::strlen(def.title)));
        std::snprintf(page.item[0].caption, sizeof page.item[0].caption, "%s", def.caption);
        page.item[0].noEdit = 0;
        page.item[0].digitEdit = def.lan != nullptr ? 1 : 0;
        page.itemCount = 1;
    }
    for (int m = 0; m < 14; m++)
        for (int c = 0; c < 2 * kMenuKeys; c++)
            std::snprintf(Novamenu[m].label[c], kLabelLen, "%s", kMenuText[m][c]);
    Novamenu[0].flags = 0x21;
    Novamenu[4].flags = 0x01;

    // The cells written at run time start from these texts.
    SetLabelf(0, 1, 2, "BANK %i", w->numBanco.load());
    SetLabelf(0, 2, 2, "%sdB", AttenuatorName(w->attenuator.load()));
    SetLabelf(0, 3, 2, "%d", w->antenna.load() + 1);
    SetLabelf(8, 2, 2, "   %i", w->saveBank.load());
    SetLabelf(8, 3, 2, "     %i", w->saveAnt.load() + 1);

    InitErrTab(w);
}

void SetModeWorkLabel(Works *w) {
    if (w->menuIdx.load() != 0) return;
    // A remote station's bank key steps its server's bank: that one is shown.
    RemoteStatus r;
    SetLabelf(0, 1, 2, "BANK%i", RemoteStatusShown(w, &r) ? r.bank : w->numBanco.load());
}

int AttenuatorOnBoard(Works *w) {
    uint8_t s0 = w->boardStatus[0].load();
    return ((s0 & 8) ? 2 : 0) + ((s0 & 4) ? 1 : 0);
}

void SetAttenuatorLabel(Works *w) {
    if (w->menuIdx.load() != 0) return;
    if (w->bypass.load() == 1)
        SetLabelf(0, 2, 2, "  %s", attNames[4]);
    else
        SetLabelf(0, 2, 2, "  %sdB", AttenuatorName(AttenuatorOnBoard(w)));
}

void GetLblInterface(int idx, char *dest) {
    if (idx < 0 || idx >= kModeWorks) return;
    std::snprintf(dest, kLabelLen, "%s", MODEwork[idx]);
}

void LblMenuAntenna(Works *w) {
    if (w->menuIdx.load() != 6) return;
    GetLblInterface(w->ModeWorkIdx.load(), KeyLabel(6, 2, 2));
}

void ImpostaLblManuale(Works *w) {
    if (w->menuIdx.load() != 4) return;
    SetLabelf(4, 3, 2, "     %u", static_cast<unsigned>(w->tuneL.load()));
    SetLabelf(4, 5, 2, "     %u", static_cast<unsigned>(w->tuneC.load()));
    int mode = DecodeModoFromTuneval(w->tunerWord.load());
    SetLabel(4, 1, 2, mode == 1 ? "CL" : mode == 2 ? "LC" : "ByP");
}

void LabelByPassATU(Works *w) {
    if (w->menuIdx.load() != 3) return;
    SetLabel(3, 5, 2, w->tunerThrough.load() != 0 ? "   Bpy" : "   On");
}

void LabelByPassNova(Works *w, const char *text) {
    if (w->menuIdx.load() != 3) return;
    SetLabel(3, 5, 2, text);
}

void LabelSAVEATU(Works *w) {
    if (w->menuIdx.load() != 8) return;
    SetLabelf(8, 2, 2, "   %i", w->saveBank.load());
    SetLabelf(8, 3, 2, "     %i", w->saveAnt.load() + 1);
}

void LblCOPY(Works *w) {
    if (w->menuIdx.load() != 10) return;
    SetLabelf(10, 2, 2, "    %i", w->copyFrom.load());
    SetLabelf(10, 3, 2, "    %i", w->copyTo.load());
}

void LblRESET(Works *w) {
    if (w->menuIdx.load() != 11) return;
    if (w->resetBank.load() == w->maxBank.load())
        SetLabel(11, 2, 2, "  ALL");
    else
        SetLabelf(11, 2, 2, "    %i", w->resetBank.load());
}

namespace {

// What the bar shows: everything its pixels follow from. Only bytes, so that
// two equal bars compare equal byte for byte.
struct KeyBar {
    uint8_t known;
    uint8_t flags;
    uint8_t kind[kMenuKeys]; // 0: labels, 1: blanked, 2: error reset (key 1)
    char text[kMenuKeys][2][kLabelLen];
};

void SetBarKey(KeyBar *bar, int key, uint8_t kind, const char *line1, const char *line2) {
    bar->kind[key - 1] = kind;
    // A cell another thread writes may be caught half-written: copy at most
    // its length and end it.
    std::memcpy(bar->text[key - 1][0], line1, strnlen(line1, kLabelLen - 1));
    std::memcpy(bar->text[key - 1][1], line2, strnlen(line2, kLabelLen - 1));
}

void ComposeKeyBar(Works *w, int menu, KeyBar *bar) {
    std::memset(bar, 0, sizeof *bar);
    bar->known = menu >= 0 && menu < kMenus ? 1 : 0;
    bar->flags = bar->known ? Novamenu[menu].flags : 0;
    if (!bar->known) return;
    // 7: key 1 turns into the error reset while a reset-worthy error stands.
    if (VerifyError(w))
        SetBarKey(bar, 1, 2, "RESET", " Error ");
    else
        SetBarKey(bar, 1, 0, KeyLabel(menu, 1, 1), KeyLabel(menu, 1, 2));
    // 8: "<" and ">" only where the value is edited group by group.
    const ParItem *item = CurrentItem(w);
    for (int key = 2; key <= 3; key++) {
        if (menu == 2 && item != nullptr && item->digitEdit == 0)
            SetBarKey(bar, key, 1, "", "");
        else
            SetBarKey(bar, key, 0, KeyLabel(menu, key, 1), KeyLabel(menu, key, 2));
    }
    // 9, 10
    for (int key = 4; key <= 5; key++)
        SetBarKey(bar, key, 0, KeyLabel(menu, key, 1), KeyLabel(menu, key, 2));
    if (menu == 1 && item != nullptr && item->noEdit == 1)
        SetBarKey(bar, 6, 1, "", "");
    else
        SetBarKey(bar, 6, 0, KeyLabel(menu, 6, 1), KeyLabel(menu, 6, 2));
}

void DrawKeyBar(Works *w, const KeyBar &bar) {
    FbScreen *fb = &w->fb;
    // 1-3: the keys, the long-press underlines and the separators.
    for (int y = kBarTop; y <= kBarBottom; y++)
        for (const KeyGeometry &k : kKeys)
            DrawHorizontalLine(k.x0, y, k.x1, 40, 40, 40, fb, 0);
    const uint8_t flags = bar.flags;
    for (int y = 478; y <= 479; y++) {
        if (flags & 0x01) DrawHorizontalLine(2, y, 128, kOrange[0], kOrange[1], kOrange[2], fb, 0);
        if (flags & 0x20)
            DrawHorizontalLine(667, y, 797, kOrange[0], kOrange[1], kOrange[2], fb, 0);
    }
    static const int kTopRow[kMenuKeys][2] = {{1, 130},   {134, 263}, {267, 396},
                                              {400, 530}, {533, 663}, {666, 799}};
    for (const auto &seg : kTopRow)
        DrawHorizontalLine(seg[0], kBarTop, seg[1], 120, 120, 120, fb, 0);
    for (int x : {130, 263, 396, 529, 662, 799})
        DrawLine(x, kBarTop, x, kBarBottom, 120, 120, 120, fb, 0);

    if (!bar.known) return;
    for (int key = 1; key <= kMenuKeys; key++) {
        if (bar.kind[key - 1] == 1)
            DrawKeyBlank(w, key);
        else
            DrawKeyLabels(w, key, bar.text[key - 1][0], bar.text[key - 1][1]);
    }
}

} // namespace

void LoadButtons(Works *w, TavParams tav) {
    int menu = w->menuIdx.load();

    // 4-6: the labels that follow the state.
    if (menu == 3) {
        const char *state = (w->tuneEnabled.load() & 0x80) ? "NotInst"
                            : w->tuneState.load() != 0     ? "    On"
                                                           : "   Off";
        SetLabel(3, 4, 2, state);
    }
    if (menu == 0) {
        SetLabelf(0, 3, 2, "     %d", w->antenna.load() + 1);
        SetAttenuatorLabel(w);
        SetModeWorkLabel(w);
        SetLabelf(0, 6, 2, "    %d", w->viewType.load());
    }
    LblCOPY(w);
    LblRESET(w);
    LabelSAVEATU(w);
    ImpostaLblManuale(w);
    LabelByPassATU(w);
    LblMenuAntenna(w);

    // 1-3 and 7-10: the bar, drawn again only when what it shows changed.
    KeyBar bar;
    ComposeKeyBar(w, menu, &bar);
    if (fbBandBegin(&w->fb, kBandKeys, kBarTop, kBarBottom, &bar, sizeof bar) != 0) {
        DrawKeyBar(w, bar);
        fbBandEnd(&w->fb, kBandKeys);
    }

    // 11: what lies over the bar.
    DrawParameters(w);
    DrawError(w);
    ViewStatusInfo(w, tav);
    ViewStatusTX(w);
}

void TuneModeLabel(Works *w, int mode) {
    static const char *const menuText[4] = {"", "CL", " LC", "ByP"};
    if (mode < 1 || mode > 3) return;
    if (w->menuIdx == 4) std::snprintf(KeyLabel(4, 1, 2), kLabelLen, "%s", menuText[mode]);
}
