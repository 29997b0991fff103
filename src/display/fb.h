// The screen record: the framebuffer (or a virtual screen in a plain file) and
// the work and background buffers every drawing goes through.
#pragma once
#include <cstddef>
#include <cstdint>

// Bands: runs of whole rows that one drawing routine owns (the soft keys, the
// information bar, the meters). While the routine's inputs stay the same and
// nothing else draws in its rows, its pixels stay in the work buffer from pass
// to pass: the restore skips them and the routine does not draw them again.
constexpr int kFbBands = 4;
constexpr size_t kFbBandKeyBytes = 4096;
enum FbBandId { kBandMeters = 0, kBandInfo = 1, kBandKeys = 2, kBandClock = 3 };

struct FbBand {
    int32_t top, bottom; // rows (top > bottom: not in use yet)
    uint8_t kept;        // the rows hold the background and one drawing of `key`
    uint8_t retained;    // the last restore skipped the rows; the owner has not run since
    uint8_t clean;       // the rows hold the background only
    uint8_t beganClean;  // clean when the owner began drawing
    uint8_t foreign;     // drawing the key does not account for came in while the owner
                         // drew (someone else's, or the owner's own past its rows)
    uint8_t active;      // the owner is drawing (on the thread `owner`)
    uint8_t amending;    // the owner is changing a kept drawing of the same key
    const void *owner;
    uint32_t keyLen;
    uint8_t *key;   // kFbBandKeyBytes, allocated with the damage lists
    uint8_t *store; // the owner's notes on its drawing (fbBandStore)
    size_t storeLen;
};

struct FbScreen {
    int32_t sizeX;
    int32_t sizeY;
    uint32_t memSize;
    uint32_t lineSize;
    uint32_t pixelSize;
    uint8_t *screenMem;
    uint8_t *workMem;
    uint8_t *backMem;
    // Damage: per row, the columns drawn over since the last restore of the
    // work buffer (drawn) and changed since the last show (shown), as
    // [lo, hi] pairs (lo > hi: none), so a pass restores and shows only what
    // it drew over. A replaced background restores everything. Kept by the
    // drawing functions through fbMarkRect / fbMarkSpan.
    int16_t *drawnLo, *drawnHi, *shownLo, *shownHi;
    uint8_t backChanged;
    uint32_t passCount;    // restores since the last whole copy
    uint32_t realizedRows; // rows the last fbRealize put on the screen
    FbBand bands[kFbBands];
};

// Opens /dev/fb0 (or makes the virtual screen) and fills `fb`; 0 on success,
// -1 with the record zeroed (and the failure logged) otherwise.
int fbInit(FbScreen *fb);
// Fills the record for a screen of xres x yres at bpp bits whose pixels are at
// `screenMem`, and allocates the work and background buffers. 0 on success,
// -1 for an unknown pixel format or when the buffers cannot be had.
int fbSetup(FbScreen *fb, uint32_t xres, uint32_t yres, uint32_t bpp, uint8_t *screenMem);
// Frees the buffers fbSetup allocated (the screen memory is the caller's).
void fbRelease(FbScreen *fb);
// Copies the work buffer to the screen (the rows changed since the last show).
// A band the last restore skipped and whose owner has not drawn since gets
// its background back first.
void fbRealize(FbScreen *fb);
// Copies the background buffer into the work buffer (the rows drawn over since
// the last restore, but not the rows of a band that keeps its drawing;
// everything after the background changed, and about once a second whatever
// was marked, so a write that was not marked heals).
void fbSetBack(FbScreen *fb);
// Notes that rows top..bottom (inclusive, clipped to the screen) of the work
// buffer (toBack 0) or the background (toBack 1) are written. Called before
// the pixels change: a kept band under them gives its rows back first.
void fbMarkRows(FbScreen *fb, int64_t top, int64_t bottom, int toBack);
// The same for columns left..right of those rows.
void fbMarkRect(FbScreen *fb, int64_t left, int64_t top, int64_t right, int64_t bottom, int toBack);
// The same for the bytes lo..hi (offsets into the buffer, inclusive).
void fbMarkSpan(FbScreen *fb, int64_t lo, int64_t hi, int toBack);
// Every row counts as written: the next restore and show copy everything.
void fbInvalidate(FbScreen *fb);

// Starts the drawing of band `band` (rows top..bottom) whose pixels follow
// only from the `len` bytes at `key`. Returns 0 when the band still shows
// what the same key drew and nothing has touched it since: the caller draws
// nothing. Otherwise returns 1 with the rows holding the background (as a
// restore left them), and the caller draws and then calls fbBandEnd.
int fbBandBegin(FbScreen *fb, int band, int top, int bottom, const void *key, size_t len);
// Like fbBandBegin, but when the band still shows what the same key drew it
// returns 2 instead of 0: the owner may then change parts of that drawing
// within the band's rows (what it draws beyond the key, kept in its own notes)
// and calls fbBandEnd; the band stays kept.
int fbBandAmend(FbScreen *fb, int band, int top, int bottom, const void *key, size_t len);
void fbBandEnd(FbScreen *fb, int band);
// At least `bytes` of storage that lasts with the band of this screen record,
// for its owner's notes on what it drew (their contents survive a call with
// the same size). nullptr when it cannot be had.
uint8_t *fbBandStore(FbScreen *fb, int band, size_t bytes);
