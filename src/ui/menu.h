// The soft-key menu model: the label table (one row per menu, two lines per
// key), the parameter page table, the label writers and the bar drawing.
#pragma once
#include <cstdint>

struct Works;
struct TavParams;

constexpr int kMenus = 16;
constexpr int kMenuKeys = 6;
constexpr int kLabelLen = 12; // bytes of one label cell, NUL included
constexpr int kParPages = 33;
constexpr int kParItems = 10;

struct MenuRow {
    char label[2 * kMenuKeys][kLabelLen]; // 2k: line 1 of key k+1, 2k+1: line 2
    uint8_t flags;                        // bit 0: key 1 has a long press, bit 5: key 6 has one
};

struct ParItem {
    char caption[20];
    uint8_t noEdit;    // 1: ENTER hidden, item cannot be opened
    uint8_t digitEdit; // 1: edited group by group with "<" and ">"
};

struct ParPage {
    int32_t id;
    char title[20]; // may fill all 20 bytes and run on into the first caption
    ParItem item[kParItems];
    int32_t itemCount;
};

extern MenuRow Novamenu[kMenus];
extern ParPage menuPar[kParPages];
extern const char attNames[5][8];          // "0", "2", "3", "5", "StBy"
constexpr int kModeWorks = 5; // working modes (ModeWorkIdx 0-4)
// "Generic", "ZMXTAV", " FT-817", "rigctld", "Logger"
extern const char MODEwork[kModeWorks][8];

// The label cell of `key` (1..6), `line` (1 or 2) of `menu`.
char *KeyLabel(int menu, int key, int line);

// The attenuator name of a setting 0-4, or "-" when it names none.
const char *AttenuatorName(int idx);
// The interface name of a working mode 0-4, or "---" before one is set.
const char *InterfaceName(int idx);

void InitMenuNova(Works *works);
void LoadButtons(Works *works, TavParams tav);

void SetAttenuatorLabel(Works *works);
// The attenuator the board reports in force (its status pads, 0..3): what the
// screen shows, also while a protection holds the pads in.
int AttenuatorOnBoard(Works *works);
void SetModeWorkLabel(Works *works);
void GetLblInterface(int idx, char *dest);
void ImpostaLblManuale(Works *works);
void LabelByPassATU(Works *works);
void LabelByPassNova(Works *works, const char *text);
void LabelSAVEATU(Works *works);
void LblCOPY(Works *works);
void LblRESET(Works *works);
void LblMenuAntenna(Works *works);
// The network arrangement (1 CL, 2 LC, 3 through) on key 2 of menu 4, when shown.
void TuneModeLabel(Works *works, int mode);
