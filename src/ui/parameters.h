// Parameter pages: the value texts and the drawing of the list, the memory
// table, the filter table and the notices over the soft-key bar.
#pragma once
#include <cstdint>

struct Works;

// The address bytes and the group index of the network page last formatted.
extern uint8_t *LAN_vect;
extern int LAN_idx;

// The address bytes of network page 9-12 (IP, netmask, gateway, DNS) and the
// group being edited (0-3); also points LAN_vect and LAN_idx at them.
void LanPage(int page, const uint8_t **bytes, int *group);
// Writes the value text of `page` (item `item`) into `out` (at least 32 bytes);
// an empty text for a page or item that has none.
void LoadParameterMenu(Works *works, char *out, int page, int item);
void DrawParameters(Works *works);
