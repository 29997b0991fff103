// Parameter pages: the value texts and the drawing of the list, the memory
// table, the filter table and the notices over the soft-key bar.
#pragma once

struct Works;

// Writes the value text of `page` (item `item`) into `out` (at least 32 bytes).
void LoadParameterMenu(Works *works, char *out, int page, int item);
void DrawParameters(Works *works);
