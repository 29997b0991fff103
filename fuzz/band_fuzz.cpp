// Fuzz target over the band configuration table (/opt/set/config.txt): the
// text parser, with its trace, and the band lookup over what it read.
#include "config/band_table.h"

#include <climits>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    BandConfig *rows = nullptr;
    int n = ParseBandTable(std::string(reinterpret_cast<const char *>(data), size), &rows,
                           size > 0 && (data[0] & 1));
    for (int32_t f : {0, 1800000, 14100000, 54000000, -1, INT32_MAX})
        BandRowForFreq(rows, n, f);
    delete[] rows;
    return 0;
}
