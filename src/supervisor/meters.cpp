#include "supervisor/meters.h"

int SchermoWidth, SchermoHeight, divX = 16, divY;
int borderLeft, borderRight, borderTop, borderBottom;
int xRangeStart, xRangeEnd = 854, LabelBorder;
int RefLevel = -110, RefPos, PointDiv = 10;
int r_x, r_y, bound_left, bound_right, b_top, b_bottom;

void InitGrid() {}
void DrawGrid(Works *) {}
void DrawFreq(Works *) {}
PlotPoint CalculatePoint(float, float, int, float) {
    return {0, 0};
}
float ConvertW_to_dBm(float) {
    return 0;
}
float CalcolaSWR(float) {
    return 0;
}
void CalcolaPwrPeak(Works *, float) {}
void CalcolaPwrPeak2(Works *, float) {}
void DrawMeters(Works *) {}
void PeakHoldStep(Works *, int) {}
