// PNG images: placement and pixel order of an accepted picture, each
// rejection with its message and an untouched buffer, and the writer.
#include "model/works.h"
#include "display/png.h"
#include "model/screen.h"
#include "fb_util.h"
#include "unit.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class Png : public ::testing::Test {
  protected:
    ScopedSimRoot root;
    TestUnit u;
    MemScreen s{800, 480, 32};
    void SetUp() override {
        u.works.fb = s.fb;
        s.Fill(0x11);
    }
    // Writes <root>/pic.png and points imageName at it.
    void Picture(int w, int h, int colorType, int depth) {
        int channels = colorType == 6 ? 4 : colorType == 2 ? 3 : 1;
        std::vector<uint8_t> data(static_cast<size_t>(w) * h * channels * depth / 8);
        for (size_t i = 0; i < data.size(); i++)
            data[i] = static_cast<uint8_t>(i * 7 + 3);
        ASSERT_TRUE(WriteTestPng(root.Path("/pic.png"), w, h, colorType, depth, data));
        Name(root.Path("/pic"));
    }
    void Name(const std::string &n) {
        ASSERT_LT(n.size(), sizeof u.works.imageName);
        std::snprintf(u.works.imageName, sizeof u.works.imageName, "%s", n.c_str());
    }
    std::string Log() { return ReadWholeFile(root.Path("/var/log/helix.log")); }
    bool Untouched() {
        std::vector<uint8_t> fill(s.fb.memSize, 0x11);
        return DiffBytes(s.fb.backMem, fill.data(), fill.size()) == 0 &&
               DiffBytes(s.fb.workMem, fill.data(), fill.size()) == 0 &&
               DiffBytes(s.screen.data(), fill.data(), fill.size()) == 0;
    }
};

TEST_F(Png, SmallPictureGoesTopLeftInScreenOrder) {
    const int w = 10, h = 5;
    std::vector<uint8_t> rgba(w * h * 4);
    for (int i = 0; i < w * h; i++) {
        rgba[4 * i] = static_cast<uint8_t>(i);       // red
        rgba[4 * i + 1] = static_cast<uint8_t>(100); // green
        rgba[4 * i + 2] = static_cast<uint8_t>(200); // blue
        rgba[4 * i + 3] = static_cast<uint8_t>(i % 2 ? 0 : 255);
    }
    ASSERT_TRUE(WriteTestPng(root.Path("/pic.png"), w, h, 6, 8, rgba));
    Name(root.Path("/pic"));
    getPng(u.w(), 1);
    const uint8_t *b = s.fb.backMem;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const uint8_t *p = b + y * 3200 + x * 4;
            EXPECT_EQ(p[0], 200);
            EXPECT_EQ(p[1], 100);
            EXPECT_EQ(p[2], y * w + x) << "alpha is ignored";
            EXPECT_EQ(p[3], 0);
        }
    EXPECT_EQ(b[10 * 4], 0x11) << "right of the picture: unchanged";
    EXPECT_EQ(b[5 * 3200], 0x11) << "below the picture: unchanged";
    EXPECT_EQ(s.fb.workMem[0], 0x11) << "background only";
    EXPECT_EQ(s.screen[0], 0x11);

    getPng(u.w(), 0); // into the work buffer, and shown
    EXPECT_EQ(s.fb.workMem[4 * 3 + 2], 3);
    EXPECT_EQ(s.screen[4 * 3 + 2], 3);
    EXPECT_EQ(Log().find("<3>"), std::string::npos) << Log();
}

TEST_F(Png, FullScreenPictureOfTheBuild) {
    Name(std::string(HELIX_BUILD_DIR) + "/m5a");
    if (std::strlen(HELIX_BUILD_DIR) + 5 >= sizeof u.works.imageName)
        GTEST_SKIP() << "build path too long";
    getPng(u.w(), 1);
    ::Picture pic;
    ASSERT_TRUE(ReadPicture(std::string(HELIX_BUILD_DIR) + "/m5a.png", &pic));
    EXPECT_EQ(DiffBytes(s.fb.backMem, pic.Bgrx().data(), s.fb.memSize), 0u);
}

TEST_F(Png, Rejections) {
    struct Case {
        int w, h, type, depth;
        const char *message;
    } cases[] = {
        {801, 10, 6, 8, "pic.png image has 801 cols not 800"},
        {10, 481, 6, 8, "pic.png image has 481 rows not 480"},
        {10, 10, 2, 8, "pic.png image has 8 pixels not 4 or color_type is 2 not 6"},
        {10, 10, 6, 16, "pic.png image has 16 pixels not 4 or color_type is 6 not 6"},
        {10, 10, 0, 8, "pic.png image has 8 pixels not 4 or color_type is 0 not 6"},
    };
    for (const Case &c : cases) {
        Picture(c.w, c.h, c.type, c.depth);
        getPng(u.w(), 0);
        EXPECT_NE(Log().find(c.message), std::string::npos) << c.message << "\n" << Log();
        EXPECT_TRUE(Untouched()) << c.message;
    }
    WriteWholeFile(root.Path("/pic.png"), "GIF89a not a png at all");
    getPng(u.w(), 1);
    EXPECT_NE(Log().find("pic.png image is not a PNG file"), std::string::npos);
    WriteWholeFile(root.Path("/pic.png"), "\x89PNG");
    getPng(u.w(), 1);
    EXPECT_NE(Log().find("pic.png image is not a PNG file"), std::string::npos);
    // A signature with no header after it fails while libpng reads the header.
    WriteWholeFile(root.Path("/pic.png"), std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    getPng(u.w(), 1);
    EXPECT_NE(Log().find("pic.png error during init_io"), std::string::npos) << Log();
    EXPECT_TRUE(Untouched());
    Name(root.Path("/nothing"));
    getPng(u.w(), 1);
    EXPECT_NE(Log().find("nothing.png image could not be opened"), std::string::npos);
    // A picture cut short fails inside libpng and is reported, not fatal.
    Picture(20, 20, 6, 8);
    std::string whole = ReadWholeFile(root.Path("/pic.png"));
    WriteWholeFile(root.Path("/pic.png"), whole.substr(0, whole.size() / 2));
    getPng(u.w(), 1);
    EXPECT_NE(Log().find("pic.png error during reading image"), std::string::npos) << Log();
    EXPECT_EQ(s.screen[0], 0x11);
}

TEST_F(Png, SixteenBitScreenRejectsEveryPicture) {
    MemScreen s16(800, 480, 16);
    s16.Fill(0x22);
    u.works.fb = s16.fb;
    Picture(10, 10, 6, 8);
    getPng(u.w(), 1);
    EXPECT_NE(Log().find("pic.png image has 8 pixels not 2 or color_type is 6 not 6"),
              std::string::npos)
        << Log();
    EXPECT_EQ(s16.fb.backMem[0], 0x22);
}

TEST_F(Png, PicturePlacedOffTheScreenIsRefused) {
    Picture(800, 10, 6, 8);
    u.works.imageX = 1;
    getPng(u.w(), 1);
    EXPECT_NE(Log().find("pic.png image has 800 cols not 800"), std::string::npos);
    EXPECT_TRUE(Untouched());
}

TEST(PngWrite, RoundTrip) {
    ScopedSimRoot root;
    std::vector<uint8_t> bgrx(4 * 3 * 2);
    for (size_t i = 0; i < bgrx.size(); i++)
        bgrx[i] = static_cast<uint8_t>(i * 9);
    ASSERT_EQ(WritePngFromBgrx(root.Path("/o.png").c_str(), bgrx.data(), 3, 2, 12), 0);
    ::Picture pic;
    ASSERT_TRUE(ReadPicture(root.Path("/o.png"), &pic));
    ASSERT_EQ(pic.width, 3);
    ASSERT_EQ(pic.height, 2);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(pic.rgba[4 * i], bgrx[4 * i + 2]);
        EXPECT_EQ(pic.rgba[4 * i + 1], bgrx[4 * i + 1]);
        EXPECT_EQ(pic.rgba[4 * i + 2], bgrx[4 * i]);
        EXPECT_EQ(pic.rgba[4 * i + 3], 255);
    }
    EXPECT_NE(WritePngFromBgrx(root.Path("/no/such/dir.png").c_str(), bgrx.data(), 3, 2, 12), 0);
    EXPECT_NE(FbGrabFile(root.Path("/dev/none").c_str(), root.Path("/x.png").c_str()), 0);
}

} // namespace
