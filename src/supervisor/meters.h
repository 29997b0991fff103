// Needle meters (views 1-3) and the spectrum plot (views 4 and 5) of the main
// screen, redrawn by the supervisor on every pass.
#pragma once

struct Works;

// Plot layout (set by InitGrid; divX, spanHz-dependent values by the view).
extern int SchermoWidth, SchermoHeight, divX, divY;
extern int borderLeft, borderRight, borderTop, borderBottom;
extern int xRangeStart, xRangeEnd, LabelBorder;
extern int RefLevel, RefPos, PointDiv;
extern int r_x, r_y, bound_left, bound_right, b_top, b_bottom;

struct PlotPoint {
    float x, y;
};

void InitGrid();
void DrawGrid(Works *works);
void DrawFreq(Works *works);
PlotPoint CalculatePoint(float lowLevel, float highLevel, int index, float level);
float ConvertW_to_dBm(float watts);
float CalcolaSWR(float swr);
void CalcolaPwrPeak(Works *works, float value);
void CalcolaPwrPeak2(Works *works, float value);
// The meter pass of views 1-3 (needles, peaks, labels, values, frequency).
void DrawMeters(Works *works);
// End-of-pass peak hold and decay with the pass time `d` in ms.
void PeakHoldStep(Works *works, int d);
