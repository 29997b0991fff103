// Screen record and line primitives: the virtual screen, pixel encodings, the
// edge cases of the line drawing, and the damage a pass restores and shows.
#include "display/fb.h"
#include "display/graph.h"
#include "display/png.h"
#include "display/ttf.h"
#include "model/screen.h"
#include "platform/clock.h"
#include "platform/fbdev.h"
#include "fb_util.h"
#include "screenshot.h"
#include "unit.h"

#include <gtest/gtest.h>
#include <cstring>
#include <limits>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Pixels of the work buffer that are not zero.
int SetPixels(const FbScreen &fb) {
    int n = 0;
    for (uint32_t off = 0; off < fb.memSize; off += fb.pixelSize) {
        bool set = false;
        for (uint32_t k = 0; k < fb.pixelSize; k++)
            set |= fb.workMem[off + k] != 0;
        n += set;
    }
    return n;
}

bool IsSet(const FbScreen &fb, int x, int y) {
    const uint8_t *p = fb.workMem + y * fb.lineSize + x * fb.pixelSize;
    return p[0] || p[1] || p[2];
}

TEST(FbLines, EndsAndLengths) {
    MemScreen s(800, 480, 32);
    DrawLine(10, 10, 10, 10, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 0) << "coinciding ends draw nothing";
    DrawLine(10, 10, 10, 20, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 11);
    EXPECT_TRUE(IsSet(s.fb, 10, 10));
    EXPECT_TRUE(IsSet(s.fb, 10, 20));
    s.Fill(0);
    DrawLine(20, 40, 0, 30, 255, 255, 255, &s.fb, 0); // flat, drawn right to left
    EXPECT_EQ(SetPixels(s.fb), 21);
    EXPECT_TRUE(IsSet(s.fb, 20, 40));
    EXPECT_TRUE(IsSet(s.fb, 0, 30));
    s.Fill(0);
    DrawHorizontalLine(5, 3, 5, 255, 255, 255, &s.fb, 0);
    DrawHorizontalLine(6, 3, 5, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 0) << "x1 <= x0 draws nothing";
    DrawHorizontalLine(0, 3, 800, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 800);
    for (int x : {0, 399, 799})
        EXPECT_TRUE(IsSet(s.fb, x, 3));
}

TEST(FbLines, ExactBresenhamForm) {
    // The error test is e >= 0, so a tie steps the minor axis at once, and the
    // same segment drawn the other way round takes other pixels.
    struct Case {
        int x0, y0, x1, y1;
        std::vector<std::pair<int, int>> pixels;
    } cases[] = {
        {0, 0, 2, 1, {{0, 0}, {1, 1}, {2, 1}}},
        {2, 1, 0, 0, {{2, 1}, {1, 0}, {0, 0}}},
        {0, 0, 1, 2, {{0, 0}, {1, 1}, {1, 2}}},
        {0, 0, 5, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}},
        {10, 10, 7, 16, {{10, 10}, {9, 11}, {9, 12}, {8, 13}, {8, 14}, {7, 15}, {7, 16}}},
    };
    for (const Case &c : cases) {
        MemScreen s(800, 480, 32);
        DrawLine(c.x0 + 100, c.y0 + 100, c.x1 + 100, c.y1 + 100, 255, 255, 255, &s.fb, 0);
        for (auto [x, y] : c.pixels)
            EXPECT_TRUE(IsSet(s.fb, x + 100, y + 100))
                << c.x0 << "," << c.y0 << " " << x << "," << y;
        EXPECT_EQ(SetPixels(s.fb), static_cast<int>(c.pixels.size())) << c.x0 << "," << c.y0;
    }
}

TEST(FbLines, ClipIsOnTheWholeBuffer) {
    MemScreen s(800, 480, 32);
    // Past the right edge the line goes on at the start of the next row.
    DrawLine(795, 10, 805, 10, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 11);
    EXPECT_TRUE(IsSet(s.fb, 799, 10));
    EXPECT_TRUE(IsSet(s.fb, 0, 11));
    EXPECT_TRUE(IsSet(s.fb, 5, 11));
    s.Fill(0);
    // Above row 0 and below the last row: cut.
    DrawLine(100, -5, 100, 5, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 6);
    s.Fill(0);
    DrawLine(100, 475, 100, 490, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 5);
    s.Fill(0);
    // The very last pixel of the buffer is never drawn.
    DrawLine(790, 479, 799, 479, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 9);
    EXPECT_FALSE(IsSet(s.fb, 799, 479));
    // A horizontal line far off the buffer writes nothing (and nothing outside).
    s.Fill(0);
    DrawHorizontalLine(-50, 1000, 50, 255, 255, 255, &s.fb, 0);
    DrawHorizontalLine(790, 479, 900, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 10);
}

// The line as the plain walk draws it (every step, 64-bit, the whole-buffer
// clip per pixel): the reference for lines that a test can afford to walk.
void ReferenceLine(int x0, int y0, int x1, int y1, const FbScreen &fb, std::vector<uint8_t> *out) {
    out->assign(fb.memSize, 0);
    if (x0 == x1 && y0 == y1) return;
    int64_t dx = std::llabs(int64_t{x1} - x0), dy = std::llabs(int64_t{y1} - y0);
    int64_t sx = x1 - x0 >= 1 ? 1 : -1, sy = y1 - y0 >= 1 ? 1 : -1;
    int64_t x = x0, y = y0;
    bool steep = dx < dy;
    int64_t major = steep ? dy : dx, minor = steep ? dx : dy, e = 2 * minor - major;
    for (int64_t i = 0; i <= major; i++) {
        int64_t off = y * fb.lineSize + x * fb.pixelSize;
        if (off >= 0 && off < int64_t{fb.memSize} - fb.pixelSize) (*out)[off] = 0xFF;
        while (e >= 0) {
            (steep ? x : y) += steep ? sx : sy;
            e -= 2 * major;
        }
        (steep ? y : x) += steep ? sy : sx;
        e += 2 * minor;
    }
}

// Lines with ends far outside the buffer are clipped before they are walked:
// the same pixels as the plain walk, no int overflow, no walk of billions of
// steps that all miss the buffer.
TEST(FbLines, FarOutLinesAreClippedFirst) {
    MemScreen s(800, 480, 32);
    std::vector<uint8_t> want;
    uint32_t seed = 12345;
    auto next = [&](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 8) % (2u * range + 1)) - range;
    };
    for (int n = 0; n < 120; n++) {
        int range = n < 60 ? 1500 : 40000;
        int x0 = next(range), y0 = next(range), x1 = next(range), y1 = next(range);
        if (n % 4 == 0) y1 = y0 + next(3); // almost flat: long stretches on the wrap
        s.Fill(0);
        DrawLine(x0, y0, x1, y1, 255, 255, 255, &s.fb, 0);
        ReferenceLine(x0, y0, x1, y1, s.fb, &want);
        for (uint32_t off = 0; off < s.fb.memSize; off += 4)
            ASSERT_EQ(s.fb.workMem[off], want[off])
                << x0 << "," << y0 << " " << x1 << "," << y1 << " at " << off / 4;
    }
    const int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
    uint64_t t0 = NowMs();
    s.Fill(0);
    // Every offset of the buffer lies on this row's endless line but the last.
    DrawLine(kMin, 10, kMax, 10, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 800 * 480 - 1);
    s.Fill(0);
    DrawLine(5, kMin, 5, kMax, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 480);
    EXPECT_TRUE(IsSet(s.fb, 5, 0));
    EXPECT_TRUE(IsSet(s.fb, 5, 479));
    s.Fill(0);
    DrawLine(kMax, kMax, kMin, kMin, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 480) << "the diagonal x = y";
    EXPECT_TRUE(IsSet(s.fb, 479, 479));
    s.Fill(0);
    DrawLine(210, 260, kMin, kMin, 255, 255, 255, &s.fb, 0); // a needle to a lost angle
    DrawLine(kMin, kMax, kMax, kMin, 255, 255, 255, &s.fb, 0);
    DrawHorizontalLine(kMin, 3, kMax, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 800 * 480);
    s.Fill(0);
    DrawHorizontalLine(kMin, -100000, kMax, 255, 255, 255, &s.fb, 0);
    DrawHorizontalLine(kMin, kMax, kMax, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 384000) << "the wrap reaches every offset from row -100000";
    // Clipped first, these cost microseconds; walked point by point, minutes.
    EXPECT_LT(NowMs() - t0, kPromptMs);
}

TEST(FbLines, PixelEncodings) {
    MemScreen s32(800, 480, 32);
    DrawLine(1, 0, 2, 0, 10, 20, 30, &s32.fb, 0);
    const uint8_t *p = s32.fb.workMem + 4;
    EXPECT_EQ(p[0], 30);
    EXPECT_EQ(p[1], 20);
    EXPECT_EQ(p[2], 10);
    EXPECT_EQ(p[3], 0);

    MemScreen s16(800, 480, 16);
    EXPECT_EQ(s16.fb.pixelSize, 2u);
    EXPECT_EQ(s16.fb.lineSize, 1600u);
    DrawHorizontalLine(0, 0, 1, 255, 0, 0, &s16.fb, 0);
    DrawHorizontalLine(1, 0, 2, 0, 0, 255, &s16.fb, 0);
    DrawHorizontalLine(2, 0, 3, 0, 255, 0, &s16.fb, 0);
    const uint8_t *q = s16.fb.workMem;
    EXPECT_EQ(q[0], 0x00);
    EXPECT_EQ(q[1], 0xF8);
    EXPECT_EQ(q[2], 0x1F);
    EXPECT_EQ(q[3], 0x00);
    EXPECT_EQ(q[4], 0xE0); // green: low three bits of its six in byte 0
    EXPECT_EQ(q[5], 0x07);
    DrawLine(0, 1, 10, 1, 255, 255, 255, &s16.fb, 1);
    EXPECT_EQ(s16.fb.backMem[1600], 0xFF) << "toBack draws into the background";
    EXPECT_EQ(s16.fb.workMem[1600], 0x00);
}

TEST(FbLines, TwentyFourBitScreenDrawsNothing) {
    MemScreen s(800, 480, 24);
    EXPECT_EQ(s.fb.pixelSize, 3u);
    EXPECT_EQ(s.fb.memSize, 800u * 480u * 3u);
    DrawLine(0, 0, 100, 100, 255, 255, 255, &s.fb, 0);
    DrawHorizontalLine(0, 5, 800, 255, 255, 255, &s.fb, 0);
    EXPECT_EQ(SetPixels(s.fb), 0);
    FbScreen fb;
    EXPECT_EQ(fbSetup(&fb, 800, 480, 12, nullptr), -1) << "unknown pixel format";
}

TEST(FbLines, RectangleCorners) {
    TestUnit u;
    MemScreen s(800, 480, 32);
    u.works.fb = s.fb;
    DrawRect(&u.w()->fb, 1, 278, 110, 303, 200, 200, 200);
    FbScreen &fb = u.works.fb;
    for (auto [x, y] : {std::pair{1, 278}, {110, 278}, {1, 303}, {110, 303}, {109, 303}, {50, 278}})
        EXPECT_TRUE(IsSet(fb, x, y)) << x << "," << y;
    EXPECT_FALSE(IsSet(fb, 111, 303));
    EXPECT_FALSE(IsSet(fb, 50, 290));
    EXPECT_EQ(SetPixels(fb), 2 * 26 + 2 * 108);
}

TEST(FbScreen, VirtualScreenIsAFileOtherProcessesCanRead) {
    ScopedSimRoot root;
    const std::string file = root.Path("/dev/fb0");
    FbScreen fb;
    ASSERT_EQ(fbInit(&fb), 0);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1536000);
    EXPECT_EQ(fb.sizeX, 800);
    EXPECT_EQ(fb.sizeY, 480);
    EXPECT_EQ(fb.pixelSize, 4u);
    EXPECT_EQ(fb.lineSize, 3200u);
    EXPECT_EQ(fb.memSize, 1536000u);
    std::memset(fb.backMem, 0, fb.memSize);
    fbSetBack(&fb);
    DrawHorizontalLine(0, 1, 2, 250, 150, 0, &fb, 0);
    fbRealize(&fb);
    std::string bytes = ReadWholeFile(file);
    ASSERT_EQ(bytes.size(), 1536000u);
    EXPECT_EQ(bytes.substr(3200, 8), std::string("\x00\x96\xfa\x00\x00\x96\xfa\x00", 8));
    Picture pic;
    ASSERT_TRUE(GrabScreen(root.root, &pic));
    EXPECT_EQ(pic.width, 800);
    EXPECT_EQ(pic.height, 480);
    EXPECT_EQ(pic.rgba[3200], 250);
    EXPECT_EQ(pic.rgba[3201], 150);
    EXPECT_EQ(pic.rgba[3203], 255);
    munmap(fb.screenMem, fb.memSize);
    fbRelease(&fb);

    // A short file is grown to the full screen instead of faulting.
    ASSERT_EQ(truncate(file.c_str(), 100), 0);
    ASSERT_EQ(fbInit(&fb), 0);
    fbRealize(&fb);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1536000);
    munmap(fb.screenMem, fb.memSize);
    fbRelease(&fb);
}

// On the unit a missing /dev/fb0 used to become a plain file posing as the
// screen; only a simulated root may create one.
TEST(FbScreen, MissingDeviceIsAnErrorOutsideASimulatedRoot) {
    ScopedSimRoot root;
    const std::string file = root.Path("/dev/fb0");
    unlink(file.c_str());
    FbDevice dev;
    EXPECT_EQ(FbDevOpenAt(&dev, file, false), -1);
    EXPECT_EQ(dev.fd, -1);
    EXPECT_NE(access(file.c_str(), F_OK), 0) << "no file may be created";
    EXPECT_NE(ReadWholeFile(root.Path("/var/log/helix.log"))
                  .find("<3>Unable to read framebuffer device: /dev/fb0"),
              std::string::npos);
    // A plain file already there is a virtual screen on the unit too.
    WriteWholeFile(file, "");
    ASSERT_EQ(FbDevOpenAt(&dev, file, false), 0);
    EXPECT_TRUE(dev.isVirtual);
    FbDevClose(&dev);
    unlink(file.c_str());

    // The real program without HELIX_ROOT on a host without a framebuffer.
    if (access("/dev/fb0", F_OK) == 0) GTEST_SKIP() << "this host has /dev/fb0";
    unsetenv("HELIX_ROOT");
    FbScreen fb;
    int r = fbInit(&fb);
    bool created = access("/dev/fb0", F_OK) == 0;
    if (created) unlink("/dev/fb0");
    setenv("HELIX_ROOT", root.root.c_str(), 1);
    EXPECT_EQ(r, -1);
    EXPECT_FALSE(created);
    EXPECT_EQ(fb.screenMem, nullptr);
}

// A pass restores and shows only what the drawing functions marked, so after
// every restore the work buffer must equal the background and after every
// show the screen must equal the work buffer, whatever was drawn (text that
// wraps at the edge, far-out lines, pictures, screen-wide fills).
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

} // namespace
