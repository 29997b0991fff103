// Kept bands: a routine whose inputs did not change leaves its rows as they
// are. Whatever happens around it, the screen must show what it would show if
// every pass restored and drew everything.
#include "model/errors.h"
#include "display/fb.h"
#include "display/graph.h"
#include "display/ttf.h"
#include "screenshot.h"
#include "supervisor/meters.h"
#include "supervisor/timer.h"
#include "ui/menu.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

// Two screens driven in lockstep with the same drawing: one with bands, one
// whose "owner" draws on every pass without asking. After every show they
// must be equal.
struct Pair {
    ScreenUnit banded, plain;
    void Both(const std::function<void(FbScreen *)> &f) {
        f(&banded.works.fb);
        f(&plain.works.fb);
    }
};

// The owner's picture for a key: bars, a line and text within rows 200-259,
// and for key 3 a line past them.
void OwnerPicture(FbScreen *fb, int key) {
    for (int y = 210 + key; y < 230 + 2 * key; y++)
        DrawHorizontalLine(40 * key, y, 300 + 50 * key, 20, 200, static_cast<uint8_t>(60 * key), fb,
                           0);
    DrawLine(10, 259, 700 - 20 * key, 200, 255, 255, 0, fb, 0);
    char text[16];
    std::snprintf(text, sizeof text, "Key %d: 14.074", key);
    putString(8, 100 + 7 * key, 250, text, 250, 150, 0, fb, 0, 0, 0, 0);
    if (key == 3) DrawLine(400, 190, 420, 240, 0, 0, 255, fb, 0);
}

TEST(ScreenBands, ShowTheSameAsDrawingEverythingEveryPass) {
    Pair p;
    p.banded.Background("img1");
    p.plain.Background("img1");
    std::mt19937 rng(11);
    int skipped = 0, shows = 0;
    auto coord = [&](int span) { return static_cast<int>(rng() % (span + 200)) - 100; };
    auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    auto owner = [&] { // mostly the same key
        int key = chance(20) ? static_cast<int>(rng() % 4) : 1;
        if (fbBandBegin(&p.banded.works.fb, kBandMeters, 200, 259, &key, sizeof key) != 0) {
            OwnerPicture(&p.banded.works.fb, key);
            fbBandEnd(&p.banded.works.fb, kBandMeters);
        } else {
            skipped++;
        }
        OwnerPicture(&p.plain.works.fb, key);
    };
    auto other = [&] { // someone else draws, often across the band
        if (chance(50)) {
            int x0 = coord(800), y0 = coord(480), x1 = coord(800), y1 = coord(480);
            p.Both([&](FbScreen *fb) { DrawLine(x0, y0, x1, y1, 0, 255, 255, fb, 0); });
        } else {
            int x = coord(800), y = 190 + static_cast<int>(rng() % 90);
            p.Both([&](FbScreen *fb) {
                putString(1, x, y, "TX 7.074", 255, 255, 255, fb, 0, 0, 0, 0);
            });
        }
    };
    auto show = [&](int pass) {
        p.Both([](FbScreen *fb) { fbRealize(fb); });
        shows++;
        return std::memcmp(p.banded.works.fb.screenMem, p.plain.works.fb.screenMem,
                           p.plain.works.fb.memSize) == 0
                   ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << "pass " << pass;
    };
    // Passes in the usual order, with every kind of irregularity now and then:
    // drawing before and after the owner, no owner, the owner twice, a show
    // in the middle, a restore missing, a new background.
    for (int pass = 0; pass < 400; pass++) {
        if (!chance(5)) p.Both([](FbScreen *fb) { fbSetBack(fb); });
        if (chance(10)) other();
        if (chance(5)) {
            ASSERT_TRUE(show(pass));
        }
        if (!chance(10)) owner();
        if (chance(5)) owner();
        if (chance(10)) other();
        if (!chance(5)) {
            ASSERT_TRUE(show(pass));
        }
        if (chance(3)) {
            const char *image = chance(50) ? "img3" : "img1";
            p.banded.Background(image);
            p.plain.Background(image);
        }
    }
    EXPECT_GT(skipped, 150) << "the band was kept at all";
    EXPECT_GT(shows, 350);
}

// Another thread's restore in the middle of the owner's drawing takes part of
// it away: that drawing must not be kept.
TEST(ScreenBands, ARestoreWhileTheOwnerDrawsIsNotKept) {
    ScreenUnit u;
    FbScreen *fb = &u.works.fb;
    u.Background("img1");
    const int key = 2;
    for (int pass = 0; pass < 2; pass++) { // the second pass keeps it
        fbSetBack(fb);
        if (fbBandBegin(fb, kBandMeters, 200, 259, &key, sizeof key) != 0) {
            OwnerPicture(fb, key);
            fbBandEnd(fb, kBandMeters);
        }
        fbRealize(fb);
    }
    fbSetBack(fb);
    ASSERT_EQ(fbBandBegin(fb, kBandMeters, 200, 259, &key, sizeof key), 0) << "kept";
    fbRealize(fb);
    fbSetBack(fb);
    const int other = 3;
    ASSERT_EQ(fbBandBegin(fb, kBandMeters, 200, 259, &other, sizeof other), 1);
    DrawHorizontalLine(0, 210, 800, 1, 2, 3, fb, 0);
    fbSetBack(fb); // as if from another thread
    DrawHorizontalLine(0, 220, 800, 1, 2, 3, fb, 0);
    fbBandEnd(fb, kBandMeters);
    fbRealize(fb);
    fbSetBack(fb);
    EXPECT_EQ(fbBandBegin(fb, kBandMeters, 200, 259, &other, sizeof other), 1);
    fbBandEnd(fb, kBandMeters);
}

// An amended band stays kept only when nothing but its owner touched it.
TEST(ScreenBands, AnAmendIsKeptUnlessARestoreOrOtherDrawingComesIn) {
    ScreenUnit u;
    FbScreen *fb = &u.works.fb;
    u.Background("img1");
    const int key = 2;
    auto pass = [&](const std::function<void()> &during, const std::function<void()> &after) {
        fbSetBack(fb);
        int r = fbBandAmend(fb, kBandMeters, 200, 259, &key, sizeof key);
        if (r == 1) OwnerPicture(fb, key);
        if (r == 2) DrawHorizontalLine(300, 240, 320, 9, 9, 9, fb, 0); // the amend
        during();
        fbBandEnd(fb, kBandMeters);
        after();
        fbRealize(fb);
        return r;
    };
    const std::function<void()> none = [] {};
    ASSERT_EQ(pass(none, none), 1); // new rows: not known clean yet
    ASSERT_EQ(pass(none, none), 1);
    EXPECT_EQ(pass(none, none), 2) << "kept after a whole drawing";
    EXPECT_EQ(pass(none, none), 2) << "kept after an amend";
    EXPECT_EQ(pass([&] { fbSetBack(fb); }, none), 2); // as if from another thread
    EXPECT_EQ(pass(none, none), 1) << "a restore during the amend took part of it away";
    EXPECT_EQ(pass(none, none), 2);
    EXPECT_EQ(pass(none, [&] { DrawLine(0, 230, 799, 231, 1, 2, 3, fb, 0); }), 2);
    EXPECT_EQ(pass(none, none), 1) << "someone else drew in the band's rows";
    EXPECT_EQ(pass([&] { DrawLine(0, 100, 799, 101, 1, 2, 3, fb, 0); }, none), 2);
    EXPECT_EQ(pass(none, none), 1) << "the owner drew past its rows";
}

// The supervisor's passes on the main screen, warm, then one input changed:
// the next pass must show what a pass from scratch shows.
struct WarmUnit : ScreenUnit {
    ScopedSimRoot root;
    SupervisorState st;
    uint64_t now = 1000000;
    WarmUnit() {
        Works *w = &works;
        w->numBanco = 1;
        w->maxBank = 20;
        InitMenuNova(w);
        w->errSuspend = 0;
        w->ModeWorkIdx = 2;
        w->powerClass = '1';
        w->viewType = 1;
        w->viewTimeStr = 0; // the clock follows the wall clock
        w->freq = w->freqPrev = w->catFreq = 14074000;
        w->bandRow = 100;
        w->temp1 = 38.5f;
        w->tinyData[3] = 200;
        SupervisorStart(w, &st, now);
    }
    void Pass() {
        now += 10;
        SupervisorStep(&works, &st, now);
    }
    // The screen after a pass in which everything is drawn again.
    std::vector<uint8_t> FromScratch() {
        fbInvalidate(&works.fb);
        Pass();
        return {works.fb.screenMem, works.fb.screenMem + works.fb.memSize};
    }
};

TEST(ScreenBands, AChangedInputReachesTheScreenOnTheNextPass) {
    WarmUnit u;
    Works *w = &u.works;
    const std::vector<std::pair<const char *, std::function<void()>>> changes = {
        {"a label cell written by key code",
         [&] { std::snprintf(KeyLabel(0, 4, 1), kLabelLen, "%s", "  TUNE!"); }},
        {"attenuator", [&] { w->attenuator = 2; }},
        {"antenna", [&] { w->antenna = 1; }},
        {"menu 3", [&] { w->menuIdx = 3; }},
        {"bypass label in menu 3", [&] { LabelByPassNova(w, "  Thru"); }},
        {"menu 0", [&] { w->menuIdx = 0; }},
        {"an error", [&] { AddErrore(w, 3); }},
        {"error gone", [&] { DeleteErrore(w, 3); }},
        {"temperature", [&] { w->temp1 = 39.0f; }},
        {"supply", [&] { w->tinyData[3] = 201; }},
        {"remote", [&] { w->remoteOn = 1; }},
        {"forward power", [&] { w->pwrFwd = 25.0f; }},
        {"reflected power", [&] { w->pwrRefl = 2.5f; }},
        {"frequency", [&] { w->catFreq = 7074000; }},
        {"TX marker on", [&] { w->boardStatus[1] = 1; }},
        {"TX marker off", [&] { w->boardStatus[1] = 0; }},
        {"debug line", [&] { w->tuneDebug = 1; }},
        {"debug figure", [&] { w->tuneL = 17; }},
        {"view 2", [&] { w->viewType = 2; }},
        {"parameter list", [&] { w->menuIdx = 1; }},
        {"main screen", [&] { w->menuIdx = 0; }},
        {"status page", [&] { w->screenFlags = 1; }},
        {"status page left", [&] { w->screenFlags = 0; }},
        {"plot", [&] { w->viewType = 4; }},
        {"plot offset", [&] { w->offsetPlot = 12; }},
        {"meters again", [&] { w->viewType = 3; }},
    };
    for (int i = 0; i < 3; i++)
        u.Pass();
    for (const auto &[name, change] : changes) {
        for (int i = 0; i < 3; i++)
            u.Pass(); // warm: the bands are kept
        change();
        u.Pass();
        std::vector<uint8_t> shown, scratch;
        for (int64_t sec = -1; sec != w->dateTimeSec;) { // again if the status page's clock ticked
            sec = w->dateTimeSec;
            shown.assign(w->fb.screenMem, w->fb.screenMem + w->fb.memSize);
            scratch = u.FromScratch();
        }
        ASSERT_EQ(DiffBytes(shown.data(), scratch.data(), shown.size()), 0u) << name;
    }
}

// A changed spectrum redraws the plot's line only in the columns it moved in:
// the screen must be what a pass from scratch shows, and columns the line did
// not move in are not copied again.
TEST(ScreenBands, APlotSpectrumChangeRedrawsOnlyWhereTheLineMoved) {
    WarmUnit u;
    Works *w = &u.works;
    InitGrid();
    w->viewType = 4;
    // No clock: a second ticking between the kept pass and the scratch pass
    // would make the two screens differ on a slow machine.
    w->viewTimeStr = 0;
    auto set = [&](int i, float level) {
        std::memcpy(&u.spectrum1[i], &level, sizeof level);
        w->spectraStored.fetch_add(1); // a spectrum came
    };
    for (int i = 0; i < kPlotLevels; i++)
        set(i, -100.0f + static_cast<float>((i * 37) % 23)); // rows about 175-213
    // A mark on the screen itself, on a row the line crosses, far from x.
    auto mark = [&](int left, int right) {
        std::memset(w->fb.screenMem + 195 * w->fb.lineSize + left * 4, 0x5a, (right - left) * 4);
    };
    auto marked = [&](int left, int right) {
        const uint8_t *row = w->fb.screenMem + 195 * w->fb.lineSize;
        for (int i = left * 4; i < right * 4; i++)
            if (row[i] != 0x5a) return false;
        return true;
    };
    struct Change {
        const char *name;
        std::function<void()> apply;
        int quietLeft, quietRight; // columns of row 195 it leaves alone (none: 0, 0)
    };
    std::mt19937 rng(5);
    const std::vector<Change> changes = {
        {"a peak at the left", [&] { set(10, -40.0f); }, 300, 700},
        {"the peak gone", [&] { set(10, -95.0f); }, 300, 700},
        // (one damage span per row: the columns between the ends are copied)
        {"both ends", [&] { set(0, -60.0f), set(kPlotLevels - 1, -30.0f); }, 0, 0},
        {"a level past the top", [&] { set(400, 20.0f); }, 600, 750},
        {"a level below the bottom", [&] { set(401, -200.0f); }, 100, 300},
        {"every level",
         [&] {
             for (int i = 0; i < kPlotLevels; i++)
                 set(i, -105.0f + static_cast<float>(rng() % 40));
         },
         0, 0},
        {"one level by one dB", [&] { set(700, -104.0f); }, 100, 500},
    };
    for (int i = 0; i < 3; i++)
        u.Pass();
    for (const Change &c : changes) {
        for (int i = 0; i < 3; i++)
            u.Pass(); // warm: the plot is kept
        // What the mark hides stays on the screen: it must still be right.
        const size_t at = 195 * w->fb.lineSize + c.quietLeft * 4;
        const size_t width = (c.quietRight - c.quietLeft) * 4;
        std::vector<uint8_t> hidden(w->fb.screenMem + at, w->fb.screenMem + at + width);
        mark(c.quietLeft, c.quietRight);
        c.apply();
        u.Pass();
        EXPECT_TRUE(marked(c.quietLeft, c.quietRight)) << c.name << ": columns copied again";
        std::vector<uint8_t> shown(w->fb.screenMem, w->fb.screenMem + w->fb.memSize);
        std::copy(hidden.begin(), hidden.end(), shown.begin() + at);
        std::vector<uint8_t> scratch = u.FromScratch();
        ASSERT_EQ(DiffBytes(shown.data(), scratch.data(), shown.size()), 0u) << c.name;
    }
}

// An idle pass copies nothing where nothing changed, and a change shows.
TEST(ScreenBands, AnIdlePassLeavesTheUnchangedRowsAlone) {
    WarmUnit u;
    Works *w = &u.works;
    w->viewTimeStr = 1;
    for (int i = 0; i < 3; i++)
        u.Pass();
    // Marks on the screen itself: a pass that copies those rows wipes them.
    const int rows[] = {10, 60, 150, 290, 320, 440, 470};
    auto mark = [&] {
        for (int y : rows)
            std::memset(w->fb.screenMem + y * w->fb.lineSize, 0x5a, w->fb.lineSize);
    };
    auto marked = [&](int y) {
        const uint8_t *row = w->fb.screenMem + y * w->fb.lineSize;
        for (uint32_t i = 0; i < w->fb.lineSize; i++)
            if (row[i] != 0x5a) return false;
        return true;
    };
    // The clock's second may turn during a pass: one of two tries is quiet.
    bool quiet = false;
    for (int attempt = 0; attempt < 2 && !quiet; attempt++) {
        mark();
        u.Pass();
        quiet = true;
        for (int y : rows)
            quiet = quiet && marked(y);
    }
    EXPECT_TRUE(quiet) << "an idle pass copied rows it had not changed";
    mark();
    w->antenna = 2; // the key label and the information bar
    u.Pass();
    EXPECT_FALSE(marked(290));
    EXPECT_FALSE(marked(470));
    EXPECT_TRUE(marked(150));
}

} // namespace
