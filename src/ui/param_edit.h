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

// The actions some pages run instead of (or besides) saving the setup.

// HELIX USE MODE, any step key: remote operation off, or on when its links are
// there (else the missing links go to the error list and it stays off).
void RemoteSwitch(Works *works);
// HELIX USE MODE, confirm: starts or stops the remote threads.
void RemoteConfirm(Works *works);
// FILTER SETTINGS, confirm: opens (filterView set) or closes the filter page.
void FilterPage(Works *works);
// FACTORY DEFAULT, confirm with factoryDefault 1: every bank's tables deleted,
// the default setup written and read back, the current bank reloaded.
void FactoryReset(Works *works);
// Runs the interface update script "/opt/Helix/getpack.sh"; its status.
int RunUiUpdate();
// Runs the remote service shell "/opt/sshshell" and waits for it.
int RemoteConnection();
