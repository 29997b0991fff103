// The background of the selected view and leaving the status page.
#pragma once

struct Works;

// Loads the background of the selected view; then TavLinkOffOutsideTavMode.
void SetWorkImg(Works *works);
// Outside TAV mode the TAV serial link's switch goes off (its thread ends).
void TavLinkOffOutsideTavMode(Works *works);
// Restores the background of the page that is open (status page, memory or
// filter table, fault history), else of the selected view.
void SetPageImg(Works *works);
int EscFromStatus(Works *works);
