// The fault-history page (menu 13): the newest entries of /opt/set/faults.txt,
// opened from the status page with key 2.
#pragma once

struct Works;

constexpr int kMenuFaults = 13;
constexpr int kFaultsPerPage = 5;

// Opens the page over the status page.
void OpenFaultHistory(Works *works);
// The keys of menu 13: BACK (to the status page), UP (newer), DOWN (older);
// a held UP or DOWN repeats (non-zero return).
int KeysFaultHistory(Works *works, int key, bool isLong);
// Draws the entries from faultTop on (called by DrawParameters).
void DrawFaultHistory(Works *works);
