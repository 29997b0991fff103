#include "model/plot_state.h"

int SchermoWidth = 800, SchermoHeight = 280, divY = 10;
std::atomic<int> divX{16}, xRangeEnd{854};
int borderLeft = 70, borderRight = 40, borderTop = 60, borderBottom = 50;
int xRangeStart = 0, LabelBorder = 4;
std::atomic<int> RefLevel{-110}, RefPos{0}, PointDiv{10};
int r_x = 43, r_y = 17, bound_left = 70, bound_right = 758, b_top = 60, b_bottom = 230;
