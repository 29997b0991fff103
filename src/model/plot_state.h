// Layout and settings of the spectrum plot: the key actions change them, the
// supervisor's plot reads them once per pass.
#pragma once
#include <atomic>

// Plot layout (set by InitGrid). The view change on the key thread sets divX
// and xRangeEnd (with spanHz in works); the plot reads them once per pass.
extern int SchermoWidth, SchermoHeight, divY;
extern std::atomic<int> divX, xRangeEnd;
extern int borderLeft, borderRight, borderTop, borderBottom;
extern int xRangeStart, LabelBorder;
// Plot settings: written by the panel thread, read by the supervisor.
extern std::atomic<int> RefLevel, RefPos, PointDiv;
extern int r_x, r_y, bound_left, bound_right, b_top, b_bottom;
