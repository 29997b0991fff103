// The background of the selected view and leaving the status page.
#pragma once

struct Works;

void SetWorkImg(Works *works);
// Restores the background of the page that is open (status page, memory or
// filter table, fault history), else of the selected view.
void SetPageImg(Works *works);
int EscFromStatus(Works *works);
