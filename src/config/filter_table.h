// Filter table (/opt/set/filter.txt): eight output filters in board order,
// each with a frequency range and an enabled flag.
#pragma once
#include "model/records.h"
#include <cstdint>
#include <string>

struct Works;

// Clears every enabled flag, then reads the file (at most eight rows).
int LoadTabFiltri(Works *works);
// Parses the file text into the table (enabled flags cleared first); returns rows read.
int ParseTabFiltri(Works *works, const std::string &text);
// 0 when the reader takes every row it reads of `text` whole, else -1 and why.
int CheckTabFiltri(const std::string &text, std::string *why);
// The file text for the current table.
std::string FormatTabFiltri(Works *works);
// Writes the whole table back through the safe-write helper; 0 on success.
int SaveTabFiltri(Works *works);
// Picks the first enabled filter containing `freq`; queues "SF" on a change.
void SetFilterFromfreq(Works *works);
// Sets the enabled byte of row `filterRow`, reselects and saves.
void EnDisFilter(Works *works, uint8_t value);
