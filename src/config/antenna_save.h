// Writing a bank's antenna table with a chosen interface marker: a bank copied
// from another keeps the origin's interface, not the one in use.
#pragma once
struct Works;

// As SaveTabConfig, with the marker of working mode `mode` (0 generic, 1 TAV, 2 FT-817).
void SaveTabConfigAs(Works *works, int bank, int mode);
