// The background of the selected view and leaving the status page.
#pragma once

struct Works;

void SetWorkImg(Works *works);
int EscFromStatus(Works *works);
