// Screen damage: a pass restores and shows only what the drawing functions
// marked, so after every restore the work buffer must equal the background and
// after every show the screen must equal the work buffer, whatever was drawn
// (text that wraps at the edge, far-out lines, pictures, screen-wide fills).
#include "display/fb.h"
#include "display/graph.h"
#include "display/png.h"
#include "model/screen.h"
#include "display/ttf.h"
#include "screenshot.h"

#include <gtest/gtest.h>
#include <cstring>
#include <random>

TEST(ScreenDamage, RestoreAndShowCopyEverythingThatWasDrawn) {
    ScreenUnit u;
    FbScreen *fb = &u.works.fb;
    u.Background("img1");
    fbRealize(fb);
    std::mt19937 rng(7);
    auto coord = [&](int span) { return static_cast<int>(rng() % (span + 400)) - 200; };
    int restores = 0, shows = 0;
    for (int step = 0; step < 400; step++) {
        const uint8_t c = static_cast<uint8_t>(rng());
        switch (rng() % 6) {
        case 0:
            DrawHorizontalLine(coord(800), coord(480), coord(800), c, 0, 255 - c, fb, 0);
            break;
        case 1:
            DrawLine(coord(800), coord(480), coord(800), coord(480), 255, c, 0, fb, 0);
            break;
        case 2: // far outside: walks only its part in the buffer
            DrawLine(-100000, coord(480), 100000 + coord(800), coord(480), 0, c, 255, fb, 0);
            break;
        case 3:
            putString(static_cast<int>(rng() % 12), coord(800), coord(480), "Wrap 14.074MHz", c, c,
                      0, fb, 0, 0, 0, 0);
            break;
        case 4: // a picture over part of the work buffer
            std::snprintf(u.works.imageName, sizeof u.works.imageName, "%s", "statusB");
            getPng(&u.works, 0);
            break;
        default:
            if (rng() % 8 == 0) {
                std::snprintf(u.works.imageName, sizeof u.works.imageName, "%s",
                              rng() % 2 ? "img3" : "img1");
                getPng(&u.works, 1); // a new background: the next restore is whole
            }
            break;
        }
        if (rng() % 3 == 0) {
            fbSetBack(fb);
            restores++;
            ASSERT_EQ(std::memcmp(fb->workMem, fb->backMem, fb->memSize), 0) << "step " << step;
        }
        if (rng() % 3 == 0) {
            fbRealize(fb);
            shows++;
            ASSERT_EQ(std::memcmp(fb->screenMem, fb->workMem, fb->memSize), 0) << "step " << step;
        }
    }
    EXPECT_GT(restores, 100);
    EXPECT_GT(shows, 100);
}
