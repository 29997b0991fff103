// The parameter pages, one row each: the title and caption of the list, how
// the value is shown, how the keys change it and what ENTER does. The page
// table menuPar, the value texts and the editor all read this table.
#pragma once
#include "ui/menu.h"

#include <cstdint>

struct Works;

// One network address being edited: its bytes and group cursor.
struct LanAddr {
    uint8_t *bytes;
    int *group;
    char *none; // set to 0 once edited: the file had no such line (null: always written)
};

// A page's value in the units it is shown in.
struct ParValue {
    double (*get)(Works *) = nullptr;
    void (*set)(Works *, double) = nullptr;
};

// Bits of ParamPage::itemZero: pages that have a value, or keys, for item 0 only.
constexpr uint8_t kShowItem0 = 1, kEditItem0 = 2;

struct ParamPage {
    int id;              // the number shown before the title
    const char *title;   // all 20 bytes used: no terminator in menuPar
    const char *caption; // of item 0
    ParValue value = {}; // no get: the value is 0 (or an address page's address)
    // The value text: `format` applied to the value (an int when `scale` is 1,
    // else a double) or, when `names` are given, to the name of the value
    // ("-" for a value without one).
    const char *format = "%s";
    const char *names[5] = {};
    const LanAddr *lan = nullptr; // a network address page
    int scale = 1;                // the value is stepped in 1/scale units
    uint8_t itemZero = 0;
};

extern const ParamPage kParamPages[kParPages];

// The address of network page 9-12; any other page gives the IP address.
const LanAddr &LanAddrOf(int page);
