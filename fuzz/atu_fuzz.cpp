// Fuzz target over the tuner memory (/opt/set/atu_ant1_b1.txt): the input
// becomes the file in a scratch root, the loader reads it into the RAM table
// of antenna 1, and a stored solution is looked up at a few frequencies.
#include "config/tuner_memory.h"
#include "fuzz_root.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Works *w = &fuzzroot::Unit()->works;
    fuzzroot::PutFile("/opt/set/atu_ant1_b1.txt", data, size);
    int loaded = LoadTabAtu(w, 1, 0);
    if (loaded < 0 || loaded > kTuneMemEntries) std::abort();
    for (int32_t f : {1850000, 7100000, 28500000, 70000000}) {
        int32_t from, to;
        int first, end;
        int idx = AtuIdxSearch(f, &from, &to, &first, &end);
        int best = SearchBestTune(w, idx, first, end, 0);
        if (best >= 0) {
            TuneEntry e{};
            LoadTuneValFromTabRam(&e, best, 0, w);
            if (e.valid == 0) std::abort();
        }
    }
    return 0;
}
