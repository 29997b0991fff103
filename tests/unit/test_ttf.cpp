// Text: UTF-8 decoding, placement, the blend rule, measuring, and the glyph
// cache giving the same pixels as rendering every time.
#include "display/ttf.h"
#include "display/utf8.h"
#include "platform/paths.h"
#include "fb_util.h"
#include "unit.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct Step {
    int result, valid;
    uint32_t cp;
    unsigned pos;
};

std::vector<Step> Decode(const std::string &s) {
    std::vector<Step> out;
    unsigned pos = 0;
    for (;;) {
        int valid = -7;
        uint32_t cp = 99;
        int r = utf8_get_next_char(reinterpret_cast<const unsigned char *>(s.data()), s.size(),
                                   &pos, &valid, &cp);
        out.push_back({r, valid, cp, pos});
        if (r != 1 || out.size() > 20) return out;
    }
}

TEST(Utf8, WellFormedSequences) {
    auto st = Decode("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xED\x9F\xBF\xF4\x8F\xBF\xBF");
    ASSERT_EQ(st.size(), 7u);
    const uint32_t cps[] = {'A', 0xE9, 0x20AC, 0x1F600, 0xD7FF, 0x10FFFF};
    const unsigned pos[] = {1, 3, 6, 10, 13, 17};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(st[i].result, 1);
        EXPECT_EQ(st[i].valid, 1);
        EXPECT_EQ(st[i].cp, cps[i]) << i;
        EXPECT_EQ(st[i].pos, pos[i]) << i;
    }
    EXPECT_EQ(st[6].result, -1);
    EXPECT_EQ(st[6].pos, 17u) << "the end leaves the position alone";
    EXPECT_EQ(st[6].cp, 0u);
}

TEST(Utf8, IllFormedStepsOverTheMaximalSubpart) {
    // (text, expected positions after each step, all invalid unless a letter)
    auto steps = Decode("\x80");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].valid, 0);
    EXPECT_EQ(steps[0].cp, 0u);
    EXPECT_EQ(steps[0].pos, 1u);

    steps = Decode("\xC0\xAF"); // overlong: two one-byte steps
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].pos, 1u);
    EXPECT_EQ(steps[1].pos, 2u);
    EXPECT_EQ(steps[0].valid + steps[1].valid, 0);

    steps = Decode("x\xE2\x82"); // truncated at the end: one step of two
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[1].valid, 0);
    EXPECT_EQ(steps[1].pos, 3u);

    steps = Decode("\xF0\x9F\x98"
                   "A");
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].valid, 0);
    EXPECT_EQ(steps[0].pos, 3u);
    EXPECT_EQ(steps[1].valid, 1);
    EXPECT_EQ(steps[1].cp, uint32_t{'A'});

    steps = Decode("\xED\xA0\x80"); // surrogate: lead alone, then two strays
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].pos, 1u);
    EXPECT_EQ(steps[2].pos, 3u);

    steps = Decode(
        "\xF5\xE0\x80\xF4\x90"); // F5 never starts; E0 80 and F4 90 second bytes out of range
    ASSERT_EQ(steps.size(), 6u);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(steps[i].pos, unsigned(i + 1));

    // The given length is a hard limit: the byte after it is never used.
    const unsigned char buf[] = {0xC3, 0xA9};
    unsigned pos = 0;
    int valid;
    uint32_t cp;
    EXPECT_EQ(utf8_get_next_char(buf, 1, &pos, &valid, &cp), 1);
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(pos, 1u);
}

class Text : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TTFLoad("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 30, 9);
        TTFLoad("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 24, 0);
    }
    void TearDown() override { TTFSetGlyphCache(true); }
    MemScreen s{800, 480, 32};

    // The coverage of the text at (x, y): white drawn on black.
    std::vector<uint8_t> Coverage(const char *text, int x, int y) {
        s.Fill(0);
        putString(9, x, y, text, 255, 255, 255, &s.fb, 0, 0, 0, 0);
        std::vector<uint8_t> c(s.fb.memSize / 4);
        for (size_t i = 0; i < c.size(); i++)
            c[i] = s.fb.workMem[4 * i];
        return c;
    }
};

TEST_F(Text, EmptyTextAndEmptySlot) {
    EXPECT_EQ(putString(9, 10, 50, "", 255, 255, 255, &s.fb, 0, 0, 0, 0), -1);
    EXPECT_EQ(putString(15, 10, 50, "ABC", 255, 255, 255, &s.fb, 0, 0, 0, 0), -1);
    std::vector<uint8_t> zero(s.fb.memSize, 0);
    EXPECT_EQ(DiffBytes(s.fb.workMem, zero.data(), zero.size()), 0u);
    EXPECT_EQ(getStringSpace(9, ""), 0);
    EXPECT_EQ(getStringSpace(15, "ABC"), 0);
}

TEST_F(Text, GlyphSitsOnTheBaselineAtThePen) {
    auto c = Coverage("H", 100, 200);
    int minX = 800, maxY = -1, minY = 480;
    for (int i = 0; i < 800 * 480; i++)
        if (c[i]) {
            minX = std::min(minX, i % 800);
            maxY = std::max(maxY, i / 800);
            minY = std::min(minY, i / 800);
        }
    EXPECT_EQ(maxY, 200) << "bottom row of a glyph without descent on the baseline row";
    EXPECT_GE(minX, 100);
    EXPECT_LE(minX, 104);
    EXPECT_GT(200 - minY, 18) << "a 30-pixel cap height of about 22 rows";
}

TEST_F(Text, BitmapStartsAtThePenAndItsBottomRowAtTheDescent) {
    // 'g' has a left bearing and a descent: neither the bearing nor the bitmap's
    // own top offset moves it; its bottom row lands descent rows below the baseline.
    FT_Set_Transform(face[9], nullptr, nullptr);
    ASSERT_EQ(FT_Load_Char(face[9], 'g', FT_LOAD_RENDER), 0);
    const FT_Bitmap &bm = slot[9]->bitmap;
    const FT_Pos h = slot[9]->metrics.height, by = slot[9]->metrics.horiBearingY;
    ASSERT_GT(h - by, 64) << "a glyph with a descent";
    ASSERT_GT(slot[9]->metrics.horiBearingX, 0);
    std::vector<uint8_t> want(800 * 480, 0);
    const int rows = static_cast<int>(bm.rows);
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < bm.pitch; j++)
            want[((200 * 64 + h - by) / 64 - i) * 800 + 100 + j] =
                bm.buffer[(rows - 1 - i) * bm.pitch + j];
    EXPECT_EQ(Coverage("g", 100, 200), want);
}

TEST_F(Text, BlendRule) {
    auto cov = Coverage("Wg", 50, 100);
    size_t partial = 0;
    for (uint8_t v : cov)
        partial += v > 0 && v < 255;
    ASSERT_GT(partial, 10u) << "anti-aliased edges expected";

    s.Fill(100);
    putString(9, 50, 100, "Wg", 255, 255, 255, &s.fb, 0, 0, 0, 0); // white
    for (size_t i = 0; i < cov.size(); i++) {
        unsigned want = (255u - cov[i]) * 100u / 255u + cov[i];
        if (cov[i] == 0) want = 100;
        ASSERT_EQ(s.fb.workMem[4 * i], want) << i;
        ASSERT_EQ(s.fb.workMem[4 * i + 2], want) << i;
        if (cov[i]) {
            ASSERT_EQ(s.fb.workMem[4 * i + 3], 0);
        }
    }
    s.Fill(200);
    putString(9, 50, 100, "Wg", 0, 0, 0, &s.fb, 0, 0, 0, 0); // black
    for (size_t i = 0; i < cov.size(); i++)
        ASSERT_EQ(s.fb.workMem[4 * i + 1], (255u - cov[i]) * 200u / 255u) << i;
    s.Fill(0);
    putString(9, 50, 100, "Wg", 255, 0, 0x81, &s.fb, 0, 0, 0, 0); // colour: AND with coverage
    for (size_t i = 0; i < cov.size(); i++) {
        ASSERT_EQ(s.fb.workMem[4 * i], 0x81 & cov[i]) << i;
        ASSERT_EQ(s.fb.workMem[4 * i + 1], 0) << i;
        ASSERT_EQ(s.fb.workMem[4 * i + 2], cov[i]) << i;
    }
}

TEST_F(Text, MeasureIsTheSumOfAdvancesTruncatedOnce) {
    FT_Pos sum = 0;
    FT_Set_Transform(face[9], nullptr, nullptr); // upright, whatever drew last
    for (char ch : std::string("ABC")) {
        ASSERT_EQ(FT_Load_Char(face[9], ch, FT_LOAD_RENDER), 0);
        sum += slot[9]->advance.x;
    }
    EXPECT_EQ(getStringSpace(9, "ABC"), sum / 64);
    EXPECT_GT(getStringSpace(9, "ABC"), 45);
    // Drawing moves the pen by the same amount: a second string drawn after
    // the width of the first continues it exactly.
    auto whole = Coverage("ABCD", 100, 100);
    s.Fill(0);
    putString(9, 100, 100, "ABC", 255, 255, 255, &s.fb, 0, 0, 0, 0);
    putString(9, 100 + getStringSpace(9, "ABC"), 100, "D", 255, 255, 255, &s.fb, 0, 0, 0, 0);
    for (size_t i = 0; i < whole.size(); i++)
        ASSERT_EQ(s.fb.workMem[4 * i], whole[i]) << i;
}

TEST_F(Text, EdgesOfTheBuffer) {
    // Past the right edge the text wraps onto the next rows; at the bottom it
    // stops at the end of the buffer.
    auto c = Coverage("WWW", 770, 100);
    int wrapped = 0;
    for (int y = 70; y < 110; y++)
        for (int x = 0; x < 60; x++)
            wrapped += c[y * 800 + x] != 0;
    EXPECT_GT(wrapped, 20);
    c = Coverage("gjpq", 700, 479);
    int last = 0;
    for (int x = 700; x < 800; x++)
        last += c[479 * 800 + x] != 0;
    EXPECT_GT(last, 0);
    c = Coverage("Hg", -10, -5); // partly before the buffer start: nothing there is written
    EXPECT_EQ(c.size(), 800u * 480u);
}

TEST_F(Text, CachedGlyphsGiveTheSamePixels) {
    const char *text = "Loading ... 7 \xC3\xA9\xE2\x82\xAC \x80 Wg";
    TTFSetGlyphCache(false);
    auto plain = Coverage(text, 30, 300);
    auto plainMirror = std::vector<uint8_t>(s.fb.memSize);
    s.Fill(0);
    putString(0, 700, 200, text, 255, 255, 255, &s.fb, 1, 0, 0, 0);
    std::memcpy(plainMirror.data(), s.fb.workMem, s.fb.memSize);
    int width = getStringSpace(9, text);
    TTFSetGlyphCache(true);
    for (int pass = 0; pass < 2; pass++) { // fills the cache, then uses it
        EXPECT_EQ(Coverage(text, 30, 300), plain) << pass;
        s.Fill(0);
        putString(0, 700, 200, text, 255, 255, 255, &s.fb, 1, 0, 0, 0);
        EXPECT_EQ(DiffBytes(s.fb.workMem, plainMirror.data(), s.fb.memSize), 0u);
        EXPECT_EQ(getStringSpace(9, text), width);
    }
}

// FreeType refuses a glyph translated about 32,767 pixels from the origin.
// The cache used to render at the caller's pen and keep even that refusal,
// so one far-off "K" removed "K" from the slot for the rest of the run.
TEST_F(Text, FarOffPensNeitherLoseGlyphsNorChangePixels) {
    TTFClearGlyphCache();
    s.Fill(0);
    putString(9, 40000, -40000, "K", 255, 255, 255, &s.fb, 0, 0, 0, 0);
    auto cached = Coverage("K", 100, 200);
    TTFSetGlyphCache(false);
    auto plain = Coverage("K", 100, 200);
    EXPECT_EQ(cached, plain);
    EXPECT_GT(std::count_if(plain.begin(), plain.end(), [](uint8_t c) { return c != 0; }), 100);

    // Pens far from the origin, and a string whose own pen runs that far:
    // the same pixels with and without the cache, and drawn where the
    // placement (with its wrap onto the next rows) puts them.
    std::string longText;
    for (int i = 0; i < 150; i++)
        longText += "KWg\xE2\x82\xAC ";
    // Where the wrap onto the next rows brings the pen back into the buffer
    // (x 40000 on row 100 is pixel 0 of row 150) the text is drawn there.
    const struct {
        int x, y;
        const char *text;
        bool drawn;
    } cases[] = {{40000, 100, "KWg", true},
                 {-40000, 300, "KWg", true},
                 {33000, 0, "KWg", true},
                 {-2000000, 2600, "KWg", true},
                 {2000000000, -2500000, "KWg", true},
                 {0, 30, longText.c_str(), true},
                 {100, -40000, "KWg", false},
                 {100, 40000, "KWg", false}};
    for (const auto &c : cases) {
        TTFSetGlyphCache(false);
        auto want = Coverage(c.text, c.x, c.y);
        TTFSetGlyphCache(true);
        EXPECT_EQ(Coverage(c.text, c.x, c.y), want) << c.x << "," << c.y;
        EXPECT_EQ(Coverage(c.text, c.x, c.y), want) << c.x << "," << c.y << " from the cache";
        size_t lit = std::count_if(want.begin(), want.end(), [](uint8_t v) { return v != 0; });
        if (c.drawn)
            EXPECT_GT(lit, 40u) << c.x << "," << c.y;
        else
            EXPECT_EQ(lit, 0u) << c.x << "," << c.y;
    }
    // Measuring after all that still knows every glyph.
    EXPECT_EQ(getStringSpace(9, "K"), getStringSpace(9, "KK") / 2);
    EXPECT_GT(getStringSpace(9, "K"), 10);
}

TEST_F(Text, RotatedAndMirroredModesDraw) {
    // The modes no caller uses still draw the glyph, each placed differently.
    std::vector<std::vector<uint8_t>> shots;
    for (auto [mx, rot, my] :
         {std::tuple{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1}, {1, 1, 0}, {0, 1, -1}}) {
        s.Fill(0);
        putString(9, 400, 240, "F", 255, 255, 255, &s.fb, mx, rot, my, 0);
        std::vector<uint8_t> shot(s.fb.workMem, s.fb.workMem + s.fb.memSize);
        int lit = 0;
        for (size_t i = 0; i < shot.size(); i += 4)
            lit += shot[i] != 0;
        EXPECT_GT(lit, 50) << mx << rot << my;
        for (const auto &other : shots)
            EXPECT_NE(shot, other) << mx << rot << my;
        shots.push_back(std::move(shot));
    }
}

TEST(FontFiles, RootCopyElseTheHostsOwn) {
    ScopedSimRoot root;
    const char *dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    EXPECT_EQ(ResolveSystemFile(dejavu), root.Path(dejavu)) << "the root links the fonts";
    ASSERT_EQ(unlink(root.Path("/usr/share/fonts/truetype/dejavu").c_str()), 0);
    EXPECT_EQ(ResolveSystemFile(dejavu), std::string(dejavu)) << "a root without fonts";
    EXPECT_EQ(ResolveSystemFile("/opt/fonts/none.ttf"), root.Path("/opt/fonts/none.ttf"));
}

} // namespace
