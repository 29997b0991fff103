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
    char *none; // 1 while the file has no such line, 0 once edited (null: always written)
};

// A page's value in the units it is shown in.
struct ParValue {
    double (*get)(Works *) = nullptr;
    void (*set)(Works *, double) = nullptr;
};

// Bits of ParamPage::itemZero: pages that have a value, or keys, for item 0 only.
constexpr uint8_t kShowItem0 = 1, kEditItem0 = 2;
// ParamPage::repeat: the actions (bit a for action a) a held key repeats.
constexpr uint8_t kRepeatSteps = 0x06, kRepeatKeys = 0x1E, kRepeatAll = 0x1F;

// What the keys other than ENTER do (actions 1-4: -, +, <, >), on a page with
// neither an `action` nor an address.
enum class ParKeys : uint8_t {
    Cycle,    // every key moves to the next value, past `hi` back to `lo` (a switch: 0, 1)
    Step,     // "-" and "+" step the value with `step`; "<" and ">" change nothing
    StepSave, // as Step, and "<" and ">" act as ENTER
};

struct ParamPage;
// The value a step of `dir` (-1 or +1) from `v` gives, both in 1/scale units.
using ParStep = int64_t (*)(const ParamPage &page, Works *works, int64_t v, int dir);

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
    // A network address page: "-" "+" step the byte of the group, "<" ">"
    // move the group.
    const LanAddr *lan = nullptr;
    int scale = 1; // the value is stepped in 1/scale units
    ParKeys keys = ParKeys::Cycle;
    ParStep step = nullptr;
    int lo = 0, hi = 1, inc = 1;        // bounds and step size, in 1/scale units
    void (*action)(Works *) = nullptr;  // when set, what every key but ENTER does
    void (*confirm)(Works *) = nullptr; // ENTER (none: nothing)
    uint8_t repeat = 0;
    uint8_t itemZero = 0;
};

extern const ParamPage kParamPages[kParPages];

// The address of network page 9-12; any other page gives the IP address.
const LanAddr &LanAddrOf(int page);
