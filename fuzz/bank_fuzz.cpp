// Fuzz target over a bank's antenna table (/opt/set/antenna_b1.txt): the
// input becomes the file in a scratch root and the bank loader reads it.
#include "config/antenna_banks.h"
#include "fuzz_root.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Works *w = &fuzzroot::Unit()->works;
    fuzzroot::PutFile("/opt/set/antenna_b1.txt", data, size);
    int mode = LoadTabConfig(w, 1);
    if (mode < 0 || mode > 2) std::abort();
    if (w->memRows < 0 || w->memRows > kAntRows) std::abort();
    int rows = w->memRows.load() > 0 ? w->memRows.load() : 1;
    if (w->memRow < 0 || w->memRow >= rows) std::abort();
    for (int i = 0; i < kAntRows; i++)
        if (std::memchr(w->antTab[i].name, '\0', sizeof w->antTab[i].name) == nullptr) std::abort();
    return 0;
}
