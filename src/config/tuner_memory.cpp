#include "config/tuner_memory.h"

#include "core/works.h"

int AtuIdxSearch(int32_t, int32_t *, int32_t *, int *, int *) {
    return 0;
}
int AtuFreqfromIdx(int) {
    return 0;
}
void SaveTuneValsuTabRam(TuneEntry, int, int, Works *) {}
void LoadTuneValFromTabRam(TuneEntry *entry, int, int, Works *) {
    *entry = TuneEntry{};
}
int SearchBestTune(Works *, int, int, int, int) {
    return -1;
}
int EsisteTuneValInTabRam(Works *, int, int, int, int) {
    return 1;
}
void InsertTuneToMem(Works *, int, int) {}
int LoadTabAtu(Works *, int, int) {
    return 0;
}
int SaveTabAtu(Works *, int, int) {
    return 0;
}
