#include "display/fb.h"

#include "platform/fbdev.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {
// A whole restore and show this often (passes), whatever was marked.
constexpr uint32_t kWholeCopyEvery = 100;
// Guards the row ranges of every screen record (several threads draw and show).
std::mutex rowsLock;

// Copies, row by row, the damaged columns [lo, hi] of each row from src to
// dst and clears that damage; with `all`, every row whole.
// Returns the number of rows copied.
uint32_t CopyDamage(uint8_t *dst, const uint8_t *src, const FbScreen *fb, int16_t *lo, int16_t *hi,
                    bool all) {
    const size_t line = fb->lineSize, ps = fb->pixelSize;
    uint32_t rows = 0;
    if (all) {
        std::memcpy(dst, src, static_cast<size_t>(fb->sizeY) * line);
        rows = static_cast<uint32_t>(fb->sizeY);
    } else {
        for (int32_t y = 0; y < fb->sizeY; y++) {
            if (lo[y] > hi[y]) continue;
            const size_t off = y * line + static_cast<size_t>(lo[y]) * ps;
            std::memcpy(dst + off, src + off, static_cast<size_t>(hi[y] - lo[y] + 1) * ps);
            rows++;
        }
    }
    for (int32_t y = 0; y < fb->sizeY; y++) {
        lo[y] = INT16_MAX;
        hi[y] = -1;
    }
    return rows;
}

// Adds columns [left, right] of row y to a damage list.
inline void Widen(int16_t *lo, int16_t *hi, int32_t y, int32_t left, int32_t right) {
    lo[y] = static_cast<int16_t>(std::min<int32_t>(lo[y], left));
    hi[y] = static_cast<int16_t>(std::max<int32_t>(hi[y], right));
}

// Its address names the thread that draws.
thread_local char threadTag;

bool InUse(const FbBand &b) {
    return b.key != nullptr && b.top <= b.bottom;
}

// Restores the drawn columns of rows top..bottom from the background; they
// change on the screen at the next show.
void RestoreRows(FbScreen *fb, int32_t top, int32_t bottom) {
    const size_t line = fb->lineSize, ps = fb->pixelSize;
    for (int32_t y = std::max(top, 0); y <= bottom && y < fb->sizeY; y++) {
        if (fb->drawnLo[y] > fb->drawnHi[y]) continue;
        Widen(fb->shownLo, fb->shownHi, y, fb->drawnLo[y], fb->drawnHi[y]);
        const size_t off = y * line + static_cast<size_t>(fb->drawnLo[y]) * ps;
        std::memcpy(fb->workMem + off, fb->backMem + off,
                    static_cast<size_t>(fb->drawnHi[y] - fb->drawnLo[y] + 1) * ps);
        fb->drawnLo[y] = INT16_MAX;
        fb->drawnHi[y] = -1;
    }
}

// The band's rows go back to the background now.
void ReleaseBand(FbScreen *fb, FbBand *b) {
    RestoreRows(fb, b->top, b->bottom);
    b->retained = 0;
    b->kept = 0;
    b->clean = 1;
}

// Rows top..bottom of the work buffer are about to be written. A band's own
// drawing within its rows only makes them unclean; anyone else's drawing ends
// what the band keeps, and a band the last restore skipped gets its background back
// first, so that what is drawn now lies over the background as it would have
// without the band.
void NoteDrawing(FbScreen *fb, int64_t top, int64_t bottom) {
    for (FbBand &b : fb->bands) {
        if (!InUse(b)) continue;
        const bool inside = bottom >= b.top && top <= b.bottom;
        if (b.active != 0 && b.owner == &threadTag) {
            // Drawing past its rows would be restored and not drawn again:
            // such a band is not kept.
            if (top < b.top || bottom > b.bottom) b.foreign = 1;
            if (inside) b.clean = 0;
            continue;
        }
        if (!inside) continue;
        if (b.retained != 0) ReleaseBand(fb, &b);
        b.kept = 0;
        b.clean = 0;
        if (b.active != 0) b.foreign = 1;
    }
}

bool Retained(const FbScreen *fb, int32_t y) {
    for (const FbBand &b : fb->bands)
        if (b.retained != 0 && y >= b.top && y <= b.bottom) return true;
    return false;
}
} // namespace

static uint32_t PixelSizeOf(uint32_t bpp) {
    switch (bpp) {
    case 4:
    case 8:
        return 1;
    case 5:
    case 15:
    case 16:
        return 2;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

int fbSetup(FbScreen *fb, uint32_t xres, uint32_t yres, uint32_t bpp, uint8_t *screenMem) {
    std::memset(fb, 0, sizeof *fb);
    uint32_t pixelSize = PixelSizeOf(bpp);
    if (pixelSize == 0) {
        LogErr("Unknown pixel format");
        return -1;
    }
    LogInfo("Pixel size =%d", static_cast<int>(pixelSize));
    uint32_t memSize = (xres * yres * bpp) >> 3;
    auto *work = static_cast<uint8_t *>(std::malloc(memSize));
    auto *back = static_cast<uint8_t *>(std::malloc(memSize));
    auto *damage = static_cast<int16_t *>(std::malloc(4 * sizeof(int16_t) * yres));
    auto *keys = static_cast<uint8_t *>(std::malloc(kFbBands * kFbBandKeyBytes));
    if (work == nullptr || back == nullptr || damage == nullptr || keys == nullptr ||
        xres > INT16_MAX) {
        std::free(work);
        std::free(back);
        std::free(damage);
        std::free(keys);
        LogErr("Unable to allocate framebuffer structure");
        return -1;
    }
    fb->sizeX = static_cast<int32_t>(xres);
    fb->sizeY = static_cast<int32_t>(yres);
    fb->memSize = memSize;
    fb->lineSize = xres * pixelSize;
    fb->pixelSize = pixelSize;
    fb->screenMem = screenMem;
    fb->workMem = work;
    fb->backMem = back;
    fb->drawnLo = damage;
    fb->drawnHi = damage + yres;
    fb->shownLo = damage + 2 * yres;
    fb->shownHi = damage + 3 * yres;
    for (uint32_t y = 0; y < yres; y++) {
        fb->drawnLo[y] = fb->shownLo[y] = INT16_MAX;
        fb->drawnHi[y] = fb->shownHi[y] = -1;
    }
    for (int i = 0; i < kFbBands; i++) {
        fb->bands[i].top = 1;
        fb->bands[i].bottom = 0;
        fb->bands[i].key = keys + i * kFbBandKeyBytes;
    }
    fbInvalidate(fb);
    LogInfo("Screen Size x: %d, y: %d, Pixel Size %d Line size: %d, Mem size: %d\n", fb->sizeX,
            fb->sizeY, static_cast<int>(fb->pixelSize), static_cast<int>(fb->lineSize),
            static_cast<int>(fb->memSize));
    return 0;
}

void fbRelease(FbScreen *fb) {
    std::free(fb->workMem);
    std::free(fb->backMem);
    std::free(fb->drawnLo);
    std::free(fb->bands[0].key);
    for (FbBand &b : fb->bands) {
        b.key = nullptr;
        std::free(b.store);
        b.store = nullptr;
        b.storeLen = 0;
    }
    fb->workMem = fb->backMem = nullptr;
    fb->drawnLo = fb->drawnHi = fb->shownLo = fb->shownHi = nullptr;
}

int fbInit(FbScreen *fb) {
    std::memset(fb, 0, sizeof *fb);
    FbDevice dev;
    if (FbDevOpen(&dev) != 0) return -1;
    uint32_t pixelSize = PixelSizeOf(dev.bitsPerPixel);
    if (pixelSize == 0) {
        LogErr("Unknown pixel format");
        FbDevClose(&dev);
        return -1;
    }
    uint32_t memSize = (dev.xres * dev.yres * dev.bitsPerPixel) >> 3;
    uint8_t *mem = FbDevMap(&dev, memSize);
    if (mem == nullptr) return -1;
    // The device (and its mapping) stay open for the rest of the run.
    if (fbSetup(fb, dev.xres, dev.yres, dev.bitsPerPixel, mem) != 0) return -1;
    if (dev.isVirtual) LogInfo("Virtual screen %ux%u", dev.xres, dev.yres);
    return 0;
}

void fbRealize(FbScreen *fb) {
    if (fb->screenMem == nullptr || fb->workMem == nullptr) return;
    std::lock_guard<std::mutex> lock(rowsLock);
    if (fb->drawnLo == nullptr) {
        std::memcpy(fb->screenMem, fb->workMem, fb->memSize);
        fb->realizedRows = static_cast<uint32_t>(fb->sizeY);
        return;
    }
    // A band whose owner did not draw since the last restore (its screen
    // went away) shows the background, as it would have without the band.
    for (FbBand &b : fb->bands)
        if (b.retained != 0) ReleaseBand(fb, &b);
    fb->realizedRows = CopyDamage(fb->screenMem, fb->workMem, fb, fb->shownLo, fb->shownHi, false);
}

void fbSetBack(FbScreen *fb) {
    if (fb->workMem == nullptr || fb->backMem == nullptr) return;
    std::lock_guard<std::mutex> lock(rowsLock);
    if (fb->drawnLo == nullptr) {
        std::memcpy(fb->workMem, fb->backMem, fb->memSize);
        return;
    }
    const bool all = fb->backChanged != 0 || ++fb->passCount >= kWholeCopyEvery;
    if (all) {
        fb->backChanged = 0;
        fb->passCount = 0;
    }
    // A band that keeps its drawing is skipped (and noted as retained); the
    // others come back to the background.
    for (FbBand &b : fb->bands) {
        b.retained = !all && b.kept != 0 ? 1 : 0;
        if (b.retained == 0) {
            b.kept = 0;
            b.clean = 1;
        }
        // A restore from another thread while the owner draws takes part of
        // that drawing away: it is not kept.
        if (b.active != 0) b.foreign = 1;
    }
    if (all) {
        for (int32_t y = 0; y < fb->sizeY; y++)
            Widen(fb->shownLo, fb->shownHi, y, 0, fb->sizeX - 1);
        CopyDamage(fb->workMem, fb->backMem, fb, fb->drawnLo, fb->drawnHi, true);
        return;
    }
    // What is restored changes on the screen at the next show.
    for (int32_t y = 0; y < fb->sizeY; y++)
        if (!Retained(fb, y)) RestoreRows(fb, y, y);
}

void fbMarkRect(FbScreen *fb, int64_t left, int64_t top, int64_t right, int64_t bottom,
                int toBack) {
    std::lock_guard<std::mutex> lock(rowsLock);
    if (toBack != 0) {
        fb->backChanged = 1;
        return;
    }
    if (fb->drawnLo == nullptr) return;
    top = std::max<int64_t>(top, 0);
    bottom = std::min<int64_t>(bottom, fb->sizeY - 1);
    left = std::max<int64_t>(left, 0);
    right = std::min<int64_t>(right, fb->sizeX - 1);
    if (left > right || top > bottom) return;
    NoteDrawing(fb, top, bottom);
    for (int64_t y = top; y <= bottom; y++) {
        Widen(fb->drawnLo, fb->drawnHi, static_cast<int32_t>(y), static_cast<int32_t>(left),
              static_cast<int32_t>(right));
        Widen(fb->shownLo, fb->shownHi, static_cast<int32_t>(y), static_cast<int32_t>(left),
              static_cast<int32_t>(right));
    }
}

void fbMarkRows(FbScreen *fb, int64_t top, int64_t bottom, int toBack) {
    fbMarkRect(fb, 0, top, fb->sizeX - 1, bottom, toBack);
}

void fbMarkSpan(FbScreen *fb, int64_t lo, int64_t hi, int toBack) {
    if (fb->lineSize == 0 || fb->pixelSize == 0 || lo > hi) return;
    const int64_t ls = fb->lineSize;
    auto row = [ls](int64_t off) { return off >= 0 ? off / ls : -((-off + ls - 1) / ls); };
    const int64_t top = row(lo), bottom = row(hi);
    if (top == bottom)
        fbMarkRect(fb, (lo - top * ls) / fb->pixelSize, top, (hi - top * ls) / fb->pixelSize,
                   bottom, toBack);
    else
        fbMarkRows(fb, top, bottom, toBack);
}

void fbInvalidate(FbScreen *fb) {
    fbMarkRows(fb, 0, fb->sizeY - 1, 0);
    fbMarkRows(fb, 0, fb->sizeY - 1, 1);
}

namespace {
int BandStart(FbScreen *fb, int band, int top, int bottom, const void *key, size_t len,
              bool amend) {
    if (band < 0 || band >= kFbBands) return 1;
    std::lock_guard<std::mutex> lock(rowsLock);
    FbBand &b = fb->bands[band];
    if (fb->drawnLo == nullptr || fb->workMem == nullptr || fb->backMem == nullptr ||
        b.key == nullptr)
        return 1;
    top = std::max(top, 0);
    bottom = std::min(bottom, fb->sizeY - 1);
    if (b.top != top || b.bottom != bottom) {
        // New rows: nothing is known about them until the next restore.
        if (b.retained != 0) ReleaseBand(fb, &b);
        b.top = top;
        b.bottom = bottom;
        b.kept = b.clean = 0;
        b.keyLen = 0;
    }
    const bool fits = len <= kFbBandKeyBytes;
    if (b.retained != 0) {
        if (b.kept != 0 && fits && b.keyLen == len && std::memcmp(b.key, key, len) == 0) {
            b.retained = 0;
            b.clean = 0;
            if (!amend) return 0;
            // The owner changes the drawing it kept: kept again at the end
            // unless someone else's drawing or a restore comes in meanwhile.
            b.active = 1;
            b.amending = 1;
            b.owner = &threadTag;
            b.foreign = 0;
            b.kept = 0;
            return 2;
        }
        ReleaseBand(fb, &b);
    }
    b.active = 1;
    b.amending = 0;
    b.owner = &threadTag;
    b.beganClean = b.clean;
    b.foreign = 0;
    b.kept = 0;
    b.keyLen = fits ? static_cast<uint32_t>(len) : 0;
    if (fits) std::memcpy(b.key, key, len);
    if (!fits) b.beganClean = 0; // a key that cannot be kept: never skip
    return 1;
}

} // namespace

int fbBandBegin(FbScreen *fb, int band, int top, int bottom, const void *key, size_t len) {
    return BandStart(fb, band, top, bottom, key, len, false);
}

int fbBandAmend(FbScreen *fb, int band, int top, int bottom, const void *key, size_t len) {
    return BandStart(fb, band, top, bottom, key, len, true);
}

uint8_t *fbBandStore(FbScreen *fb, int band, size_t bytes) {
    if (band < 0 || band >= kFbBands) return nullptr;
    std::lock_guard<std::mutex> lock(rowsLock);
    FbBand &b = fb->bands[band];
    if (b.storeLen < bytes) {
        auto *grown = static_cast<uint8_t *>(std::realloc(b.store, bytes));
        if (grown == nullptr) return nullptr;
        b.store = grown;
        b.storeLen = bytes;
    }
    return b.store;
}

void fbBandEnd(FbScreen *fb, int band) {
    if (band < 0 || band >= kFbBands) return;
    std::lock_guard<std::mutex> lock(rowsLock);
    FbBand &b = fb->bands[band];
    if (b.active == 0) return;
    b.active = 0;
    b.kept = (b.amending != 0 || b.beganClean != 0) && b.foreign == 0 ? 1 : 0;
    b.amending = 0;
}
