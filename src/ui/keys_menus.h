// The key handlers of each menu, behind DecodeTasto. `isLong` tells a long
// press; each returns what DecodeTasto returns (non-zero: repeat while held).
#pragma once
#include "model/board_cmds.h"

struct Works;

int KeysMain(Works *works, int key, bool isLong);       // menu 0
int KeysTune(Works *works, int key, bool isLong);       // menu 3
int KeysManualTune(Works *works, int key, bool isLong); // menu 4
int KeysStoreTune(Works *works, int key);               // menu 8
int KeysMemoryTable(Works *works, int key);             // menu 6
int KeysMemoryEdit(Works *works, int key);              // menu 7
int KeysBankUtilities(Works *works, int key);           // menus 9, 10, 11
int KeysFilterPage(Works *works, int key);              // menu 12

// Queues a power-board command (BoardCmd); true when the link will send it.
bool QueueCmd(Works *works, int code);
// v + 1, back to 0 when it reaches `bound` (or is outside 0..bound-1).
int StepWrap(int v, int bound);
// v - 1, from 0 (or outside 0..bound-1) to bound - 1.
int StepBackWrap(int v, int bound);
// Writes the interface name of the working mode into menu 6's INTERF key.
void InterfaceLabel(Works *works);
