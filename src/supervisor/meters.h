// Needle meters (views 1-3) and the spectrum plot (views 4 and 5) of the main
// screen, redrawn by the supervisor on every pass.
#pragma once
#include "model/plot_state.h"
#include <atomic>
#include <cstddef>
#include <cstdint>

struct Works;
struct PeakRecord;

// Points of the spectrum line (levels in dBm, one float each, in the second
// spectrum buffer).
constexpr int kPlotLevels = 854;

struct PlotPoint {
    float x, y;
};

// Spectra that stop for this long (or never came) turn the plot into "NO DATA".
constexpr uint64_t kPlotStaleMs = 2000;

void InitGrid();
void DrawGrid(Works *works);
// The plot's frequency caption ("14.074MHz"); returns 0 (and an empty text)
// when there is no frequency to show.
int FreqCaption(int32_t hz, char *out, size_t cap);
PlotPoint CalculatePoint(float lowLevel, float highLevel, int index, float level);
float ConvertW_to_dBm(float watts);
float CalcolaSWR(float swr);
// A new reading for a peak needle: a higher one is held for TimerPeakSec ms,
// after the hold the peak follows the readings as a running mean.
void PeakTrack(PeakRecord *peak, float value);
void CalcolaPwrPeak(Works *works, float value);  // the left meter's peak
void CalcolaPwrPeak2(Works *works, float value); // the right meter's peak
// A power reading as the meters write it: "%02.01fW", or "%02.01fdBm" when
// `powerUnits` is 1 ("---dBm" below 1 mW).
void MeterPowerText(Works *works, float watts, char *out, size_t cap);
// The meter pass of views 1-3 (needles, peaks, labels, values, frequency).
void DrawMeters(Works *works);
// End-of-pass peak hold and decay with the pass time `d` in ms.
void PeakHoldStep(Works *works, int d);
