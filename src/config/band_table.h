// Band configuration table (/opt/set/config.txt): per band the detector
// calibrations, the protection thresholds and the tuner starting points.
#pragma once
#include "model/records.h"
#include <cstdint>
#include <string>

struct Works;

// Reads the table once at start-up into works->bandTab / bandTabCount.
int ReadConfigFile(Works *works);
// Parses the file text into `rows` (allocated with new[], nullptr when empty);
// returns the row count.
int ParseBandTable(const std::string &text, BandConfig **rows, bool trace);
// 0 when the reader takes every line of `text` whole, else -1 and why.
int CheckBandTable(const std::string &text, std::string *why);
// Row i (0 <= i < count - 1) with fStart[i] <= freq < fStart[i + 1], compared
// as signed 32-bit numbers; the last row when fStart <= freq <= fStop (a last
// row with no stop above its start only closes the band before it); -1 when
// none.
int BandRowForFreq(const BandConfig *rows, int count, int32_t freq);
