#include "supervisor/thresholds.h"

#include "model/cmd_queue.h"
#include "config/band_table.h"
#include "model/works.h"
#include "platform/log.h"

#include <cmath>

// A raw 12-bit threshold: truncated toward zero, 4095 at most. A coefficient
// of 0 or a broken calibration row gives no usable limit, so the board gets
// the open limit rather than a meaningless number.
static int32_t RawLimit(double v) {
    if (std::isnan(v) || v >= 4096.0) return 4095;
    if (v < 0.0) return 0;
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
            w->tsThreshold[0] = 4095;
            w->tsThreshold[1] = 4095;
            w->tsThreshold[2] = 1500;
            w->tsThreshold[3] = 3700;
            if (IncPNTIn_CMDLinear(kCmdThresholds, w) == 0) w->tuneBand = kTuneBandDefaults;
        }
        return;
    }
    Trace("Soglia TS (freq %ld):\n", static_cast<long>(freq));
    int i = BandRowForFreq(w->bandTab, w->bandTabCount, freq);
    if (i < 0 || i == w->tuneBand.load()) return;
    const BandConfig &r = w->bandTab[i];
    w->tsThreshold[0] = RawLimit(std::sqrt(static_cast<double>(r.sogliaPwIn) / r.K2));
    w->tsThreshold[1] = RawLimit(std::sqrt(static_cast<double>(r.sogliaFwd) / r.K0));
    w->tsThreshold[2] = RawLimit(std::sqrt(static_cast<double>(r.sogliaRefl) / r.K1));
    w->tsThreshold[3] = RawLimit(static_cast<double>(r.sogliaCorrente) * 4096.0 / 14.05);
    // Recorded only once "TS" was accepted, so a refusal is tried again.
    if (IncPNTIn_CMDLinear(kCmdThresholds, w) == 0) w->tuneBand = i;
}
