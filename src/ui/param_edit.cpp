#include "ui/param_edit.h"

#include "model/cmd_queue.h"
#include "config/setup.h"
#include "model/works.h"
#include "ui/keyb.h"
#include "platform/log.h"
#include "model/plot_state.h"
#include "config/network.h"
#include "ui/menu.h"

#include <cmath>

namespace {

enum Action { kConfirm = 0, kDown = 1, kUp = 2, kPrevGroup = 3, kNextGroup = 4 };

constexpr uint8_t kPowerOffCode = 0x85; // panel micro: switch the unit off
constexpr int kCmdFreqSense = 12;       // "FS%01d%04d;"
constexpr int kCmdFwUpdate = 30;        // "MR1;"

bool Step(int action) {
    return action == kDown || action == kUp;
}

// Toggles for values shown as "on" when non-zero, and for values shown as
// "on" only when exactly 1: either way the shown state flips.
uint8_t FlipNonZero(uint8_t v) {
    return v != 0 ? 0 : 1;
}
uint8_t FlipOne(uint8_t v) {
    return v == 1 ? 0 : 1;
}

// Fixed-point steps: the value is taken in hundredths or tenths, stepped and
// stored back, so repeated steps do not drift.
int Scaled(double v, int scale) {
    return static_cast<int>(std::lround(v * scale));
}

// Target SWR: a step into 0.01..0.99 goes to 0 (down) or 1 (up); 0..10.
void StepSwrTarget(Works *w, int action) {
    int v = Scaled(w->swrTarget.load(), 100) + (action == kDown ? -1 : 1);
    if (v < 100) v = action == kDown ? 0 : 100;
    if (v < 0) v = 0;
    if (v > 1000) v = 1000;
    w->swrTarget = static_cast<float>(v / 100.0);
}

// Alarm set point: tenths, not below 20 degrees and not above maxTempAllowed.
void StepSetPoint(Works *w, Shared<float> *value, int action) {
    int v = Scaled(value->load(), 10) + (action == kDown ? -1 : 1);
    if (v < 200) v = 200;
    int top = w->maxTempAllowed.load() * 10;
    if (v > top) v = top;
    *value = static_cast<float>(v / 10.0);
}

// An index 0..4 of a five-entry list; a step out of it (below 0 as well) gives 0.
void StepIndex(Shared<uint8_t> *idx, int action) {
    uint8_t v = static_cast<uint8_t>(idx->load() + (action == kDown ? -1 : 1));
    *idx = v > 4 ? 0 : v;
}

// The address bytes and group cursor of network page 9-12.
void LanOf(int page, uint8_t **bytes, int **group, char **none) {
    switch (page) {
    case 10:
        *bytes = NetMask_v, *group = &CntNetMask, *none = nullptr;
        break;
    case 11:
        *bytes = Gateway_v, *group = &CntGateway, *none = &Gateway_none;
        break;
    case 12:
        *bytes = DNS_v, *group = &CntDNS, *none = &DNS_none;
        break;
    default:
        *bytes = IP_v, *group = &CntIP, *none = nullptr;
        break;
    }
}

void EditLan(int page, int action) {
    uint8_t *bytes;
    int *group;
    char *none;
    LanOf(page, &bytes, &group, &none);
    if (*group < 0 || *group > 3) *group = 3;
    *group = ModifyIP(action, *group, bytes);
    // An address the operator sets is written even where the file had none.
    if (Step(action) && none != nullptr) *none = 0;
}

// Pages that act only on their first item.
bool ItemZeroOnly(int page) {
    return page == 8 || page == 19 || page == 20 || (page >= 22 && page <= 24) || page == 26 ||
           (page >= 28 && page <= 31);
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
    if (ItemZeroOnly(page) && w->parItem.load() != 0) return 0;
    bool confirm = action == kConfirm;
    bool step = Step(action);
    switch (page) {
    case 0: { // MAX BANK 2..20
        if (step) {
            int v = w->maxBank.load() + (action == kDown ? -1 : 1);
            if (v < 2) v = 20;
            if (v > 20) v = 2;
            w->maxBank = v;
        } else {
            writeSetup(w);
        }
        return 0;
    }
    case 1: // Input Sens FQ1 (0) / FQ2 (any other value, as shown)
        if (confirm) {
            IncPNTIn_CMDLinear(kCmdFreqSense, w);
            writeSetup(w);
        } else {
            w->fsMode = FlipNonZero(w->fsMode.load());
        }
        return 0;
    case 2: // Period (ms) 10..10000
        if (confirm) {
            IncPNTIn_CMDLinear(kCmdFreqSense, w);
            writeSetup(w);
            return 0;
        }
        if (action == kDown && w->fsValue.load() > 10) w->fsValue -= 10;
        if (action == kUp && w->fsValue.load() < 10000) w->fsValue += 10;
        return step ? 1 : 0;
    case 3: // Enable TAV Tune: the whole byte becomes 1 or 0
        if (confirm)
            writeSetup(w);
        else
            w->tuneOpt = (w->tuneOpt.load() & 1) ? 0 : 1;
        return 0;
    case 4: // Force Attenuator: every step key goes up, 3 wraps to 0
        if (confirm) {
            writeSetup(w);
        } else {
            uint8_t v = static_cast<uint8_t>(w->attenuatorTune.load() + 1);
            w->attenuatorTune = v > 3 ? 0 : v;
        }
        return 0;
    case 5: // Target SWR
        if (confirm) {
            writeSetup(w);
            return 0;
        }
        if (step) StepSwrTarget(w, action);
        return 1;
    case 6: // AutoTune Timeout
        if (confirm)
            writeSetup(w);
        else if (step)
            StepIndex(&w->swrTimeoutIdx, action);
        return 0;
    case 7: { // ATU Installed: bit 7 set means none
        if (confirm) {
            writeSetup(w);
            return 0;
        }
        uint8_t v = static_cast<uint8_t>(w->tuneEnabled.load()) ^ 0x80;
        w->tuneEnabled = static_cast<int8_t>(v);
        Trace("----------> SAVE ATU: 0x%0X\n", static_cast<unsigned>(v));
        return 0;
    }
    case 8: // HELIX USE MODE
        if (confirm)
            RemoteConfirm(w);
        else
            RemoteSwitch(w);
        return 0;
    case 9:
    case 10:
    case 11:
    case 12: // network address
        if (!confirm)
            EditLan(page, action);
        else if (int r = SaveLanParam(); r != 0)
            LogErr("network settings not applied (%d)", r);
        return 0;
    case 13: // Ref Lev
        if (action == kDown) RefLevel -= 10;
        if (action == kUp) RefLevel += 10;
        return 0;
    case 14: // Ref Pos 0..10
        if (action == kDown && RefPos > 0) RefPos--;
        if (action == kUp && RefPos < 10) RefPos++;
        return 0;
    case 15: // Point Div 1, 2, 5, 10, 20
        if (action == kDown && PointDiv > 1) PointDiv = PointDiv / 2;
        if (action == kUp && PointDiv < 20) {
            PointDiv = PointDiv * 2;
            if (PointDiv == 4) PointDiv = 5;
        }
        return 0;
    case 16: // Offset, tenths
        if (step)
            w->offsetPlot = (Scaled(w->offsetPlot, 10) + (action == kDown ? -1 : 1)) / 10.0;
        else
            writeSetup(w);
        return 1;
    case 17: // FILTER SETTINGS View
        if (confirm)
            FilterPage(w);
        else
            w->filterView = FlipNonZero(w->filterView.load());
        return 0;
    case 18: // DateTime
        if (confirm)
            writeSetup(w);
        else
            w->viewTimeStr = FlipNonZero(w->viewTimeStr.load());
        return 0;
    case 19: // TEMPERATURE UNITS
        if (confirm)
            writeSetup(w);
        else
            w->tempUnits = FlipOne(w->tempUnits.load());
        return 0;
    case 20: // PEAK POWER METER
        if (confirm)
            writeSetup(w);
        else
            w->auxFwdEnable = FlipNonZero(w->auxFwdEnable.load());
        return 0;
    case 21: // Release Time (ms) 0..5000
        if (action == kDown) TimerPeakSec = TimerPeakSec - 10 < 0 ? 0 : TimerPeakSec - 10;
        if (action == kUp) TimerPeakSec = TimerPeakSec + 10 > 5000 ? 5000 : TimerPeakSec + 10;
        if (!step) writeSetup(w);
        return 1;
    case 22:
    case 23: // alarm set points
        if (confirm) {
            writeSetup(w);
            return 0;
        }
        if (step) StepSetPoint(w, page == 22 ? &w->tempMax1 : &w->tempMax2, action);
        return 1;
    case 24: // SET POWER UNITS
        if (confirm)
            writeSetup(w);
        else
            w->powerUnits = FlipOne(w->powerUnits.load());
        return 0;
    case 25: // SCREEN SAVER TIMEOUT
        if (confirm)
            writeSetup(w);
        else if (step)
            StepIndex(&w->saveScreenIdx, action);
        return 0;
    case 26: // FACTORY DEFAULT
        if (!confirm)
            w->factoryDefault = FlipOne(w->factoryDefault.load());
        else if (w->factoryDefault.load() == 1)
            FactoryReset(w);
        return 0;
    case 27: { // Long Press Time 0.3..5.0 s, tenths
        if (!step) {
            writeSetup(w);
            return 0;
        }
        int v = Scaled(TIME_LONG_PRESS, 10) + (action == kDown ? -1 : 1);
        if (v < 3) v = 3;
        if (v > 50) v = 50;
        TIME_LONG_PRESS = v / 10.0;
        return 0;
    }
    case 28: // OFF HW: the panel micro switches the unit off
        w->tinyCmdOut = kPowerOffCode;
        return 0;
    case 29: // FW UPDATE
        if (!confirm) {
            w->linkFlags ^= 1;
        } else if (w->linkFlags.load() & 1) {
            IncPNTIn_CMDLinear(kCmdFwUpdate, w);
            Trace("Start AGGFW\n");
        }
        return 0;
    case 30: // UI UPDATE
        if (!confirm) {
            w->linkFlags ^= 8;
        } else if (w->linkFlags.load() & 8) {
            Trace("Start AGG UI...\n");
            RunUiUpdate();
        }
        return 0;
    case 31: // REMOTE SERVICE
        if (!confirm) {
            w->linkFlags ^= 2;
        } else if (w->linkFlags.load() & 2) {
            RemoteConnection();
            Trace("Start REMOTE SRV\n");
        }
        return 0;
    default:
        return 0;
    }
}

void ModifytabAntenna(Works *w, int down) {
    int rows = w->memRows.load();
    int row = w->memRow.load();
    if (rows > kAntRows) rows = kAntRows;
    if (row < 0 || row >= rows) return;
    AntennaRow &r = w->antTab[row];
    int dir = down != 0 ? -1 : 1;
    switch (w->memCol.load()) {
    case 0: { // power, tenths, 0.0..999.9
        int v = Scaled(r.pwr, 10) + dir;
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
