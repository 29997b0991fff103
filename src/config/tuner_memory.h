// Tuner memory: one table of stored tuner solutions per antenna of the current
// bank, on a fixed frequency grid, mirrored in /opt/set/atu_ant*.txt.
#pragma once
#include <cstdint>

struct Works;
struct TuneEntry;

// Entry index of `freq`; the segment's bounds (Hz) and index range [first, end).
int AtuIdxSearch(int32_t freq, int32_t *segFrom, int32_t *segTo, int *firstIdx, int *endIdx);
int AtuFreqfromIdx(int idx);
void SaveTuneValsuTabRam(TuneEntry entry, int idx, int ant, Works *works);
void LoadTuneValFromTabRam(TuneEntry *entry, int idx, int ant, Works *works);
int SearchBestTune(Works *works, int idx, int firstIdx, int endIdx, int ant);
// 1 when no entry of the segment holds a solution, 0 when one is available.
int EsisteTuneValInTabRam(Works *works, int idx, int firstIdx, int endIdx, int ant);
void InsertTuneToMem(Works *works, int bank, int ant);
// Loads the tuner memory of antenna `ant` (0..2) of `bank`.
int LoadTabAtu(Works *works, int bank, int ant);
int SaveTabAtu(Works *works, int bank, int ant);
