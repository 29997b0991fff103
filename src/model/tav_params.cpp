#include "model/tav_params.h"

#include "model/works.h"
#include "platform/log.h"

#include <cstdlib>
#include <cstring>
#include <pthread.h>

namespace {
// A digit byte as the transceiver sends it: value = byte OR 0x30 minus '0'.
inline int Digit(uint8_t b) {
    return (b | 0x30) - '0';
}
} // namespace

void storeParameters(Works *w, int length, const uint8_t *payload) {
    // Fields up to byte 32 are read; a shorter payload reads as zeros.
    uint8_t p[40] = {};
    if (length < 0) length = 0;
    std::memcpy(p, payload, static_cast<size_t>(length < 40 ? length : 40));

    if (pthread_mutex_lock(w->serMut) != 0) {
        LogErr("serMut mutex cannot be locked");
        return;
    }
    TavParams *t = w->tavPar;
    if (t->received == 0) {
        *t = TavParams{};
        t->received = 1;
    }
    t->memoryMode = p[0] & 0x01;
    t->frameVfoB = (p[0] >> 4) & 0x01;
    t->activeVfoB = (p[0] >> 5) & 0x01;
    uint32_t f = 0;
    for (int i = 1; i <= 8; i++)
        f = f * 16u + static_cast<uint32_t>(Digit(p[i]));
    if (t->memoryMode)
        t->freqMem = f;
    else if (t->frameVfoB)
        t->freqB = f;
    else
        t->freqA = f;

    if (length > 9 && (p[9] & 0x80)) {
        if (t->frameVfoB)
            t->modeB = p[9] & 0x0F;
        else
            t->modeA = p[9] & 0x0F;
    }
    if (length > 20 && p[20] >= 0x40 && p[20] <= 0x7F) {
        // Switched off keeps the magnitude of the previous value, as a negative.
        int32_t lp = (p[20] >> 3) & 0x01 ? 1 : -std::abs(t->lp);
        t->lp = lp == 0 ? -1 : lp;
    }
    if (length > 25) t->offset12 = (Digit(p[23]) << 8) | (Digit(p[24]) << 4) | Digit(p[25]);
    if (length > 30) {
        int32_t v = p[26] > '7' ? p[26] - 64 : Digit(p[26]);
        for (int i = 27; i <= 30; i++)
            v = v * 16 + Digit(p[i]);
        t->offset20 = v;
    }
    if (length > 31 && p[31] >= 0x30 && p[31] <= 0x3F) t->txFlag = p[31] & 0x01;
    if (length > 32 && p[32] >= 0x30 && p[32] <= 0x3F) t->inputSel = p[32] & 0x0F;

    t->freqPrev = t->freqCur;
    t->freqCur = t->memoryMode ? t->freqMem : t->activeVfoB ? t->freqB : t->freqA;
    t->modeCur = t->activeVfoB ? t->modeB : t->modeA;
    if (pthread_mutex_unlock(w->serMut) != 0) LogErr("serMut mutex cannot be unlocked");
    WakeSupervisor(w);
}

void getParameters(TavParams *copy, Works *w) {
    if (pthread_mutex_lock(w->serMut) != 0) {
        LogErr("serMut mutex cannot be locked");
        *copy = TavParams{};
        return;
    }
    *copy = *w->tavPar;
    if (pthread_mutex_unlock(w->serMut) != 0) LogErr("serMut mutex cannot be unlocked");
}

void storeFFT(Works *w, int count, const uint8_t *bytes) {
    constexpr int kFirst = 85, kPoints = 854;
    if (pthread_mutex_lock(w->serMut) != 0) {
        LogErr("serMut mutex cannot be locked");
        return;
    }
    float levels[kPoints];
    std::memcpy(levels, w->fftRec->buf1, sizeof levels);
    for (int k = 0; k < kPoints && kFirst + k < count; k++)
        levels[k] = static_cast<float>(bytes[kFirst + k]) - 192.0f;
    std::memcpy(w->fftRec->buf1, levels, sizeof levels);
    w->spectraStored.fetch_add(1);
    if (pthread_mutex_unlock(w->serMut) != 0) LogErr("serMut mutex cannot be unlocked");
}
