// Tuner memory: one table of stored tuner solutions per antenna of the current
// bank, on a fixed frequency grid, mirrored in /opt/set/atu_ant*.txt.
// The RAM tables (works.tuneMem) and their files are read and written under
// works.tuneMemLock.
#pragma once
#include <cstdint>
#include <string>

struct Works;
struct TuneEntry;

// Entry index of `freq`; the segment's bounds (Hz) and index range [first, end).
// Indices of 5000 and more (above about 71 MHz) have no entry; a negative
// frequency gives -1 and an empty range.
int AtuIdxSearch(int32_t freq, int32_t *segFrom, int32_t *segTo, int *firstIdx, int *endIdx);
// Grid frequency of an index (0 for a negative index).
int AtuFreqfromIdx(int idx);
// Stores `entry` at `idx` of antenna `ant` (0..2); nothing outside the table.
void SaveTuneValsuTabRam(TuneEntry entry, int idx, int ant, Works *works);
// Reads the entry at `idx` of antenna `ant`; a stored mode 3 reads as 1; an
// index or antenna outside the table reads as an empty entry.
void LoadTuneValFromTabRam(TuneEntry *entry, int idx, int ant, Works *works);
// Nearest valid entry of [firstIdx, endIdx) to `idx` (lower index on a tie,
// nearer than the segment's width), or -1.
int SearchBestTune(Works *works, int idx, int firstIdx, int endIdx, int ant);
// 1 when no entry of the segment holds a solution, 0 when one is available
// (the same entries LoadTuneFromMEM would use).
int EsisteTuneValInTabRam(Works *works, int idx, int firstIdx, int endIdx, int ant);
// Loads the stored solution for the current frequency into the tuner word.
// The caller holds the tuner-word flag. Returns the index used, -1 for none.
int LoadTuneFromMEM(Works *works, int ant);
// Stores the tuner word's solution for the current frequency into the table of
// `bank` and antenna `ant` and saves that file. When the RAM table holds
// another bank (the store-tune key's choice of bank), the file is updated
// through a scratch table and the RAM tables are left alone.
void InsertTuneToMem(Works *works, int bank, int ant);
// The same for the entry of `freq` (a tune's own frequency).
void InsertTuneToMemAt(Works *works, int bank, int ant, int32_t freq);
// Loads the tuner memory of antenna `ant` (0..2) of `bank`: the number of entry
// lines loaded (0 for a missing file), -1 for an antenna outside 0..2.
int LoadTabAtu(Works *works, int bank, int ant);
// Writes antenna `ant`'s table to the file of `bank`: 0, or -1 on failure (logged).
int SaveTabAtu(Works *works, int bank, int ant);
// Copies antenna `ant`'s table file of bank `from` to bank `to` through a
// scratch table (the tables in memory are left alone): 0, or -1 on failure.
int CopyTabAtu(Works *works, int from, int to, int ant);
// 0 when the reader takes every line of a tuner-memory file's `text`, else -1
// and why (the first line it would skip).
int CheckAtuText(const std::string &text, std::string *why);
