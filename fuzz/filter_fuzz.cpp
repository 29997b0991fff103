// Fuzz target over the filter table (/opt/set/filter.txt): the text parser,
// the filter choice for a few frequencies, and the text written back, which
// must read back as the same table.
#include "config/filter_table.h"
#include "fuzz_root.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Works *w = &fuzzroot::Unit()->works;
    ParseTabFiltri(w, std::string(reinterpret_cast<const char *>(data), size));
    for (int32_t f : {0, 1850000, 14200000, 50100000, -5}) {
        w->freq = f;
        SetFilterFromfreq(w);
    }
    std::string text = FormatTabFiltri(w);
    FilterRow before[kFilterRows];
    std::memcpy(before, w->filterTab, sizeof before);
    ParseTabFiltri(w, text);
    for (int i = 0; i < kFilterRows; i++) {
        const FilterRow &a = before[i], &b = w->filterTab[i];
        if (a.fStart != b.fStart || a.fStop != b.fStop || (a.enabled & 0xFF) != (b.enabled & 0xFF))
            std::abort();
    }
    return 0;
}
