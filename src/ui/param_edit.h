// Editing of the parameter pages, the network address groups and the memory
// table cells, called from the key actions.
#pragma once
#include <cstdint>

struct Works;

// action 0 confirm, 1 decrease, 2 increase, 3 previous group, 4 next group, on
// page `parPage`; returns 1 when a held key should repeat the action.
int ModifyParameter(Works *works, int action);
// action 1/2 steps bytes[group] down/up (wrapping in 0..255), 3/4 moves the
// group left/right (wrapping in 0..3). Returns the group.
int ModifyIP(int action, int group, uint8_t bytes[4]);
// Steps the memory-table cell (memRow, memCol): down 0 increases, 1 decreases.
void ModifytabAntenna(Works *works, int down);
