// The built tools the unit and its tests use, each run as a program:
// helix-djpeg, the simulated root's fbgrab (helix-fbgrab) and helix-sim-keys.
#include "display/fb.h"
#include "fb_util.h"
#include "jpeg/jpgd.h"
#include "panel_keys.h"
#include "platform/clock.h"
#include "platform/gpio_block.h"
#include "ui/gpio.h"
#include "unit.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

// Colour to PPM, --grey to PGM, with the pixels of the program's decoder; a
// file it cannot decode ends it with status 1 and one line.
TEST(Jpeg, DjpegToolWritesPpmAndPgmAndReportsFailure) {
    ScopedSimRoot root; // a scratch folder
    const std::string dir = root.root;
    std::string ppm = "P6\n17 13\n255\n";
    for (int i = 0; i < 17 * 13 * 3; i++)
        ppm += static_cast<char>(i * 37);
    WriteWholeFile(dir + "/t.ppm", ppm);
    std::string cmd = "cjpeg -sample 2x1 -outfile '" + dir + "/t.jpg' '" + dir + "/t.ppm'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::string jpg = ReadWholeFile(dir + "/t.jpg");
    const std::string tool = std::string(HELIX_BUILD_DIR) + "/helix-djpeg";
    for (int comps : {3, 1}) {
        cmd = tool + " '" + dir + "/t.jpg' '" + dir + "/t.out'" + (comps == 1 ? " --grey" : "");
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        int w, h, c;
        unsigned char *px = jpgd::decompress_jpeg_image_from_memory(
            reinterpret_cast<const unsigned char *>(jpg.data()), static_cast<int>(jpg.size()), &w,
            &h, &c, comps);
        ASSERT_NE(px, nullptr);
        std::string want = std::string(comps == 1 ? "P5" : "P6") + "\n17 13\n255\n" +
                           std::string(reinterpret_cast<char *>(px), 17u * 13u * comps);
        std::free(px);
        EXPECT_EQ(ReadWholeFile(dir + "/t.out"), want);
    }
    WriteWholeFile(dir + "/bad.jpg", std::string(100, 'U'));
    cmd = tool + " '" + dir + "/bad.jpg' '" + dir + "/t.out' 2>'" + dir + "/err.txt'";
    int rc = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1);
    EXPECT_EQ(ReadWholeFile(dir + "/err.txt"), "cannot decode " + dir + "/bad.jpg\n");
}

TEST(FbScreen, FbgrabStandInWritesTheScreen) {
    ScopedSimRoot root;
    FbScreen fb;
    ASSERT_EQ(fbInit(&fb), 0);
    std::memset(fb.workMem, 0x40, fb.memSize);
    fbRealize(&fb);
    // Found with only the root's bin/ and the system's directories on PATH,
    // run outside the build directory.
    std::string cmd = "cd '" + root.root + "' && PATH='" + root.root + "/bin:/usr/bin:/bin' fbgrab";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Picture pic;
    ASSERT_TRUE(ReadPicture(root.Path("/tmp/screen.png"), &pic));
    EXPECT_EQ(pic.width, 800);
    EXPECT_EQ(pic.rgba[0], 0x40);
    munmap(fb.screenMem, fb.memSize);
    fbRelease(&fb);
}

// helix-sim-keys on a mapped simulated block while the step runs on the real clock.
TEST(GpioBlockMap, SimKeysToolPressesKeys) {
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    GpioBlock b;
    ASSERT_EQ(GpioOpen(&b), 0);
    GpioPanel panel;
    static std::vector<std::pair<int, int>> presses;
    static std::mutex lock;
    presses.clear();
    panel.decode = [](Works *, int key, int mask) {
        std::lock_guard<std::mutex> g(lock);
        presses.push_back({key, mask});
        return 0;
    };
    GpioStart(&b, &panel);
    w->tinyCmdOut = kTinyIdle; // no exchanges: keys are sampled on every pass
    w->tinyTimer = 1000000;
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        while (!stop) {
            GpioStep(&b, &panel, w, NowMs());
            SleepUs(kGpioPassUs);
        }
    });
    std::string tool = std::string(HELIX_BUILD_DIR) + "/helix-sim-keys --root " + root.root;
    EXPECT_EQ(std::system((tool + " 2 300").c_str()), 0); // short, with room for a loaded machine
    EXPECT_EQ(std::system((tool + " 5 long").c_str()), 0);
    EXPECT_EQ(std::system((tool + " 6 900").c_str()), 0);
    bool got = WaitUntil(
        [&] {
            std::lock_guard<std::mutex> g(lock);
            return presses.size() >= 3;
        },
        kPatienceMs);
    stop = true;
    loop.join();
    EXPECT_TRUE(got);
    std::vector<std::pair<int, int>> want = {{2, 0}, {5, 1 << 4}, {6, 1 << 5}};
    EXPECT_EQ(presses, want);
    EXPECT_EQ(GpioRead(&b, kGPLEV0) & kKeyBits, kKeyBits) << "every key released again";
    GpioClose(&b);
    EXPECT_NE(WEXITSTATUS(std::system((tool + " 7 short 2>/dev/null").c_str())), 0);
    EXPECT_NE(WEXITSTATUS(std::system((tool + " 1 soon 2>/dev/null").c_str())), 0);
}

} // namespace
