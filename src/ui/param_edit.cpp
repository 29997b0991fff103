#include "ui/param_edit.h"

#include "model/works.h"
#include "ui/param_pages.h"

#include <cmath>

namespace {

enum Action { kConfirm = 0, kDown = 1, kUp = 2, kPrevGroup = 3, kNextGroup = 4 };

bool Step(int action) {
    return action == kDown || action == kUp;
}

uint8_t FlipOne(uint8_t v) {
    return v == 1 ? 0 : 1;
}

// Fixed-point steps: the value is taken in tenths (or hundredths), stepped and
// stored back, so repeated steps do not drift.
int64_t Scaled(double v, int scale) {
    return std::llround(v * scale);
}

void EditLan(const LanAddr &a, int action) {
    if (*a.group < 0 || *a.group > 3) *a.group = 3;
    *a.group = ModifyIP(action, *a.group, a.bytes);
    // An address the operator sets is written even where the file had none.
    if (Step(action) && a.none != nullptr) *a.none = 0;
}

} // namespace

int ModifyIP(int action, int group, uint8_t bytes[4]) {
    if (group < 0 || group > 3) group = 3;
    switch (action) {
    case kDown:
        bytes[group] = static_cast<uint8_t>(bytes[group] - 1);
        break;
    case kUp:
        bytes[group] = static_cast<uint8_t>(bytes[group] + 1);
        break;
    case kPrevGroup:
        group = group == 0 ? 3 : group - 1;
        break;
    case kNextGroup:
        group = group == 3 ? 0 : group + 1;
        break;
    default:
        break;
    }
    return group;
}

int ModifyParameter(Works *w, int action) {
    int page = w->parPage.load();
    if (page < 0 || page >= kParPages || action < kConfirm || action > kNextGroup) return 0;
    const ParamPage &p = kParamPages[page];
    if ((p.itemZero & kEditItem0) && w->parItem.load() != 0) return 0;
    bool step = Step(action);
    static_assert(kParPages <= 64, "one unsaved bit per page");
    const uint64_t bit = uint64_t{1} << page;
    if (action == kConfirm || (p.keys == ParKeys::StepSave && !step)) {
        // "<" and ">" save only a value a step changed: a held blank key
        // does not rewrite the setup file on every repeat.
        bool changed = (w->parUnsaved.fetch_and(~bit) & bit) != 0;
        if (p.confirm != nullptr && (action == kConfirm || changed)) p.confirm(w);
    } else if (p.action != nullptr) {
        p.action(w);
    } else if (p.lan != nullptr) {
        EditLan(*p.lan, action);
    } else if (p.keys == ParKeys::Cycle || step) {
        const int64_t was = Scaled(p.value.get(w), p.scale);
        int64_t v = was;
        if (p.keys == ParKeys::Cycle)
            v = v + 1 > p.hi ? p.lo : v + 1;
        else
            v = p.step(p, w, v, action == kUp ? 1 : -1);
        if (v != was) w->parUnsaved.fetch_or(bit);
        p.value.set(w, static_cast<double>(v) / p.scale);
    }
    return (p.repeat >> action) & 1;
}

void ModifytabAntenna(Works *w, int down) {
    std::lock_guard<std::mutex> lock(w->antTabLock);
    int rows = w->memRows.load();
    int row = w->memRow.load();
    if (rows > kAntRows) rows = kAntRows;
    if (row < 0 || row >= rows) return;
    AntennaRow &r = w->antTab[row];
    int dir = down != 0 ? -1 : 1;
    switch (w->memCol.load()) {
    case 0: { // power, tenths, 0.0..999.9
        int64_t v = Scaled(r.pwr, 10) + dir;
        if (v < 0) v = 0;
        if (v > 9999) v = 9999;
        r.pwr = static_cast<float>(v / 10.0);
        break;
    }
    case 1: { // attenuator index 0..3
        uint8_t v = static_cast<uint8_t>(r.att + dir);
        r.att = v > 3 ? 0 : v;
        break;
    }
    case 2:
        r.ampEnable = FlipOne(r.ampEnable);
        break;
    case 3: { // antenna 1..3
        int v = r.ant + dir;
        if (v == 0) v = 3;
        if (v > 3 || v < 0) v = 1;
        r.ant = static_cast<uint8_t>(v);
        break;
    }
    case 4:
        r.atuOff = FlipOne(r.atuOff);
        break;
    default:
        break;
    }
}
