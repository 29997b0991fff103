#include "screenshot.h"

#include "display/fonts.h"
#include "config/antenna_banks.h"
#include "display/png.h"
#include "model/screen.h"
#include "ui/status.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>

ScreenUnit::ScreenUnit() {
    static std::once_flag fonts;
    // The unit's own faces under /opt/fonts come from a simulated root, as on
    // the simulated unit (the host has them under other names).
    std::call_once(fonts, [] {
        ScopedSimRoot root;
        LoadFontSet();
    });
    works.fb = screen.fb;
}

void ScreenUnit::Background(const char *image) {
    std::snprintf(works.imageName, sizeof works.imageName, "%s", image);
    getPng(&works, 1);
    fbSetBack(&works.fb);
}

::testing::AssertionResult MatchesReference(const FbScreen &fb, const char *name, int tolerance) {
    std::string ref = std::string(HELIX_SOURCE_DIR) + "/tests/ref/" + name + ".png";
    const char *update = std::getenv("HELIX_UPDATE_REFS");
    if (update != nullptr && update[0] == '1') {
        if (WritePngFromBgrx(ref.c_str(), fb.workMem, fb.sizeX, fb.sizeY, fb.lineSize) != 0)
            return ::testing::AssertionFailure() << "cannot write " << ref;
        return ::testing::AssertionSuccess() << "wrote " << ref;
    }
    Picture pic;
    if (!ReadPicture(ref, &pic))
        return ::testing::AssertionFailure()
               << "no reference " << ref << " (run with HELIX_UPDATE_REFS=1 to make it)";
    if (pic.width != fb.sizeX || pic.height != fb.sizeY)
        return ::testing::AssertionFailure() << ref << " is " << pic.width << "x" << pic.height;
    std::vector<uint8_t> want = pic.Bgrx();
    long bad = 0, firstX = -1, firstY = -1;
    int worst = 0;
    for (int y = 0; y < fb.sizeY; y++) {
        const uint8_t *got = fb.workMem + static_cast<size_t>(y) * fb.lineSize;
        const uint8_t *exp = want.data() + static_cast<size_t>(y) * fb.sizeX * 4;
        for (int x = 0; x < fb.sizeX; x++) {
            int d = 0;
            for (int c = 0; c < 3; c++)
                d = std::max(d, std::abs(got[x * 4 + c] - exp[x * 4 + c]));
            if (d > tolerance) {
                if (bad++ == 0) firstX = x, firstY = y;
            }
            worst = std::max(worst, d);
        }
    }
    if (bad == 0) return ::testing::AssertionSuccess();
    std::string outDir = std::string(HELIX_BUILD_DIR) + "/screens";
    mkdir(outDir.c_str(), 0755);
    std::string out = outDir + "/" + name + ".png";
    WritePngFromBgrx(out.c_str(), fb.workMem, fb.sizeX, fb.sizeY, fb.lineSize);
    return ::testing::AssertionFailure()
           << name << ": " << bad << " pixels differ by more than " << tolerance << " (worst "
           << worst << ", first at " << firstX << "," << firstY << "); drawn screen in " << out;
}

namespace {
constexpr int kBoxX0 = 265, kBoxX1 = 401, kBoxY0 = 278, kBoxY1 = 304;
} // namespace

std::vector<uint8_t> InfoBarBandBox(const uint8_t *bgrx, int stride) {
    std::vector<uint8_t> box;
    for (int y = kBoxY0; y < kBoxY1; y++)
        for (int x = kBoxX0; x < kBoxX1; x++)
            for (int c = 0; c < 3; c++)
                box.push_back(bgrx[y * stride + 4 * x + c]);
    return box;
}

std::vector<uint8_t> ExpectedBandBox(const char *image, int32_t freq, int modeWorkIdx) {
    ScreenUnit u;
    Works *w = &u.works;
    LoadTabConfig(w, 1);
    w->ModeWorkIdx = modeWorkIdx;
    w->freq = freq;
    u.Background(image);
    DrawInfoBar(w);
    return InfoBarBandBox(w->fb.workMem, static_cast<int>(w->fb.lineSize));
}

bool ScreenShowsBand(const std::string &root, int32_t freq, int modeWorkIdx) {
    Picture pic;
    if (!GrabScreen(root, &pic)) return false;
    std::vector<uint8_t> px = pic.Bgrx();
    std::vector<uint8_t> box = InfoBarBandBox(px.data(), pic.width * 4);
    return box == ExpectedBandBox("img1", freq, modeWorkIdx) ||
           box == ExpectedBandBox("img1b", freq, modeWorkIdx);
}
