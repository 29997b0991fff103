// Reference screenshots: a unit whose screen is an 800 x 480 x 32 buffer in
// memory, with the unit's fonts and panel pictures, and a comparison of what
// it drew with a PNG kept in tests/ref.
//
// HELIX_UPDATE_REFS=1 in the environment writes the references instead of
// comparing (look at every picture before committing it). A mismatch writes
// the drawn screen to <build>/screens/<name>.png for inspection.
#pragma once

#include "fb_util.h"
#include "unit.h"

#include <gtest/gtest.h>

struct ScreenUnit : TestUnit {
    MemScreen screen{800, 480, 32};
    // Loads the fonts (once per process) and points works.fb at the screen.
    // Panel pictures are read from the build directory, where tests run.
    ScreenUnit();
    // The drawing grew its band notes on works.fb, a copy of the screen's
    // record: hand them back so the screen's release frees them.
    ~ScreenUnit() { screen.fb = works.fb; }
    // Loads a panel picture (e.g. "img1") into the background and work buffer.
    void Background(const char *image);
};

// Compares the work buffer with tests/ref/<name>.png. `tolerance` is the
// largest difference allowed in any channel of any pixel.
::testing::AssertionResult MatchesReference(const FbScreen &fb, const char *name,
                                            int tolerance = 0);

// The band box of the information bar (its pixels, BGR) in a BGRX screen.
std::vector<uint8_t> InfoBarBandBox(const uint8_t *bgrx, int stride);
// The band box as this build draws it for `freq` over `image`, with bank 1's
// table of the current root.
std::vector<uint8_t> ExpectedBandBox(const char *image, int32_t freq, int modeWorkIdx = 2);
// Whether the screen of the unit in `root` shows the band box for `freq` (over
// either main-view background).
bool ScreenShowsBand(const std::string &root, int32_t freq, int modeWorkIdx = 2);
