// Soft-key menu model.
#pragma once
struct Works;
void InitMenuNova(Works *works);
void LoadButtons(Works *works);
