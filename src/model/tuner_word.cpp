#include "model/tuner_word.h"

#include "model/works.h"
#include "platform/clock.h"
#include "model/hooks.h"

#include <cstdio>
#include <cstring>

char ModeTuneDebug[4] = "";

namespace {
// Word bit of each value bit 0..9 (bit 9 of a 9-bit value is always 0).
constexpr int kCBits[10] = {15, 2, 4, 6, 14, 12, 10, 8, 20, 22};
constexpr int kLBits[10] = {1, 3, 5, 7, 13, 11, 9, 19, 21, 17};
constexpr uint32_t kCMask = 0xFFAF2AABu;
constexpr uint32_t kLMask = 0xFFD5D555u;
constexpr uint32_t kModeMask = kTunerModeCL | kTunerModeLC | kTunerModeThrough;

uint32_t Spread(int value, const int (&bits)[10]) {
    uint32_t word = 0;
    for (int i = 0; i < 10; i++)
        if (value & (1 << i)) word |= 1u << bits[i];
    return word;
}

int Gather(uint32_t word, const int (&bits)[10]) {
    int value = 0;
    for (int i = 0; i < 10; i++)
        if (word & (1u << bits[i])) value |= 1 << i;
    return value & 511;
}

int Mod512(int v) {
    v %= 512;
    return v < 0 ? v + 512 : v;
}
} // namespace

void SetC(Works *w, int c) {
    w->tunerWord = (w->tunerWord.load() & kCMask) | Spread(Mod512(c), kCBits);
}

void SetI(Works *w, int l) {
    w->tunerWord = (w->tunerWord.load() & kLMask) | Spread(Mod512(l), kLBits);
}

int DecodeCapacitaFromTuneval(uint32_t word) {
    return Gather(word, kCBits);
}

int DecodeInduttanzaFromTuneval(uint32_t word) {
    return Gather(word, kLBits);
}

int DecodeModoFromTuneval(uint32_t word) {
    switch (word & kModeMask) {
    case 0:
        return 0;
    case kTunerModeCL:
        return 1;
    case kTunerModeLC:
        return 2;
    case kTunerModeThrough:
        return 3;
    default:
        fprintf(stderr, "DecodeModoFromTuneval -> tune: 0x%x \n", word & kModeMask);
        return 0;
    }
}

void SetMode(Works *w, int mode) {
    w->tuneMode = mode;
    if (mode < 0 || mode > 3) return;
    if (mode == 0) mode = 3;
    static const uint32_t bit[4] = {0, kTunerModeCL, kTunerModeLC, kTunerModeThrough};
    w->tunerWord = (w->tunerWord.load() & ~kModeMask) | bit[mode];
    w->tunerThrough = mode == 3 ? 1 : 0;
    static const char *const debugText[4] = {"", "CL", "LC", "BP"};
    CallHook(hooks.TuneModeLabel, w, mode);
    if (w->tuneDebug != 0) snprintf(ModeTuneDebug, sizeof ModeTuneDebug, "%s", debugText[mode]);
}

void ReadTnePar(Works *w) {
    uint32_t word = w->tunerWord;
    w->tuneC = DecodeCapacitaFromTuneval(word);
    w->tuneL = DecodeInduttanzaFromTuneval(word);
    int mode = DecodeModoFromTuneval(word);
    w->tuneMode = mode;
    if (mode == 0) SetMode(w, 3);
}

void WaitSemaforoTuneval(Works *w) {
    while (w->tuneSem.exchange(1) != 0)
        SleepUs(1);
}

void StopSemaforoTuneval(Works *w) {
    w->tuneSem = 0;
}
