#include "supervisor/thresholds.h"

#include "model/cmd_queue.h"
#include "config/band_table.h"
#include "model/works.h"
#include "platform/log.h"

#include <cmath>

// The thresholds in force without a band row: input, forward, reflected, current.
constexpr int32_t kDefaultLimit[4] = {4095, 4095, 1500, 3700};

// A raw 12-bit threshold: truncated toward zero, 4095 at most. A limit that
// cannot be computed (a refused row, a zero coefficient or calibration
// reading) fails closed: the default of its slot, never the converter's
// full scale.
static int32_t RawLimit(double v, int slot) {
    if (!std::isfinite(v) || v < 0.0) return kDefaultLimit[slot];
    if (v >= 4096.0) return 4095;
    return static_cast<int32_t>(v);
}

// Marks "the default thresholds are in force". It is not a row number, so the
// first frequency in band row 0 still sends that row's thresholds (marking the
// defaults with row 0 would leave the lowest band on the open defaults).
constexpr int32_t kTuneBandDefaults = 1 << 20;

void SearchCambioSoglie_TS(Works *w) {
    int32_t freq = w->freq.load();
    if (w->bandTabCount == 0 || freq == 0) {
        if (w->tuneBand.load() < 0) {
            for (int k = 0; k < 4; k++)
                w->tsThreshold[k] = kDefaultLimit[k];
            if (IncPNTIn_CMDLinear(kCmdThresholds, w) == 0) w->tuneBand = kTuneBandDefaults;
        }
        return;
    }
    Trace("Soglia TS (freq %ld):\n", static_cast<long>(freq));
    int i = BandRowForFreq(w->bandTab, w->bandTabCount, freq);
    if (i < 0) {
        // Outside every band: the defaults, never the last band's limits.
        if (w->tuneBand.load() == kTuneBandDefaults) return;
        for (int k = 0; k < 4; k++)
            w->tsThreshold[k] = kDefaultLimit[k];
        if (IncPNTIn_CMDLinear(kCmdThresholds, w) == 0) w->tuneBand = kTuneBandDefaults;
        return;
    }
    if (i == w->tuneBand.load()) return;
    const BandConfig &r = w->bandTab[i];
    w->tsThreshold[0] = RawLimit(std::sqrt(static_cast<double>(r.sogliaPwIn) / r.K2), 0);
    w->tsThreshold[1] = RawLimit(std::sqrt(static_cast<double>(r.sogliaFwd) / r.K0), 1);
    w->tsThreshold[2] = RawLimit(std::sqrt(static_cast<double>(r.sogliaRefl) / r.K1), 2);
    w->tsThreshold[3] = RawLimit(static_cast<double>(r.sogliaCorrente) * 4096.0 / 14.05, 3);
    // Recorded only once "TS" was accepted, so a refusal is tried again.
    if (IncPNTIn_CMDLinear(kCmdThresholds, w) == 0) w->tuneBand = i;
}
