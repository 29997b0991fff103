// Band configuration table (/opt/set/config.txt): per band the detector
// calibrations, the protection thresholds and the tuner starting points.
#pragma once
#include <cstdint>
#include <string>

struct Works;

struct BandConfig {
    uint32_t fStart; // Hz
    uint32_t fStop;  // Hz (kept, not used by the lookup)
    float K0;        // forward watts per reading squared
    float K1;        // reflected
    float K2;        // input (drive)
    float K3;        // reflected correction, times forward power
    float sogliaPwIn;
    float sogliaCorrente;
    float sogliaRefl;
    float sogliaFwd;
    int32_t startL[5];
    int32_t startC[5];
    int32_t fineStep;
};
static_assert(sizeof(BandConfig) == 21 * 4, "a band row is 21 words");

// Reads the table once at start-up into works->bandTab / bandTabCount.
int ReadConfigFile(Works *works);
// Parses the file text into `rows` (allocated with new[], nullptr when empty);
// returns the row count.
int ParseBandTable(const std::string &text, BandConfig **rows, bool trace);
// Row i (0 <= i < count - 1) with fStart[i] <= freq < fStart[i + 1], compared
// as signed 32-bit numbers; -1 when none (the last row only closes a band).
int BandRowForFreq(const BandConfig *rows, int count, int32_t freq);
