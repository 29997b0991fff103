// Fuzz target over the power board's replies: the input is cut after each
// ';' and every piece goes to the reply decoder as the link hands it over
// (CRC digits already stripped, the ';' included). The unit keeps its state
// from reply to reply, as on the link.
#include "amplifier/decode.h"
#include "config/band_table.h"
#include "fuzz_root.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

UnitRecord *BoardUnit() {
    static UnitRecord *u = [] {
        UnitRecord *r = fuzzroot::Unit();
        // A band table, so the readings are scaled by a band's coefficients.
        BandConfig *rows = nullptr;
        int n = ParseBandTable("1800000 2000000 100 400 10 400 5 200 0 10 20 10 1100 0 0 0 0 0 0 "
                               "0 0 0 0 5\n30000000 54000000 100 400 10 400 5 200 0 10 20 10 "
                               "1100 0 0 0 0 0 0 0 0 0 0 5\n",
                               &rows, false);
        r->works.bandTab = rows;
        r->works.bandTabCount = n;
        r->works.freq = 1900000;
        return r;
    }();
    return u;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Works *w = &BoardUnit()->works;
    const char *text = reinterpret_cast<const char *>(data);
    size_t at = 0;
    while (at < size) {
        const void *semi = std::memchr(text + at, ';', size - at);
        size_t end = semi != nullptr
                         ? static_cast<size_t>(static_cast<const char *>(semi) - text) + 1
                         : size;
        // The link's buffer holds at most a few hundred bytes; the decoder
        // must still be safe with a longer piece.
        std::string piece(text + at, end - at);
        DecodeCatCmd(w, piece.c_str(), static_cast<int>(piece.size()));
        at = end;
    }
    return 0;
}
