// Fuzz target over the fan table (/opt/set/ventola.txt): the text parser, and
// the fan-speed choice over what it read at a few heat-sink temperatures.
#include "amplifier/temperature.h"
#include "config/fan_table.h"
#include "fuzz_root.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Works *w = &fuzzroot::Unit()->works;
    FanRow *rows = nullptr;
    int n = ParseFanTable(std::string(reinterpret_cast<const char *>(data), size), &rows,
                          size > 0 && (data[0] & 1));
    w->fanTab = rows;
    w->fanTabCount = n;
    for (float t : {-40.0f, 25.0f, 45.5f, 80.0f, 200.0f}) {
        w->temp1 = t;
        w->temp2 = t;
        searchPercentVentola(w);
    }
    w->fanTab = nullptr;
    w->fanTabCount = 0;
    delete[] rows;
    return 0;
}
