// The unit's font set: every face and size the screens use, in its slot.
#pragma once

// Loads the twelve faces of the start-up table into their slots (slot 0 twice,
// slot 3 never), taking each file from the root when it holds it.
void LoadFontSet();
