// The controller on a virtual screen: the splash with its countdown, then
// the "statusB" picture, and the closing screen after SIGTERM.
#include "display/ttf.h"
#include "helix_process.h"
#include "platform/clock.h"
#include "fb_util.h"
#include "unit.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

std::vector<uint8_t> Expected(const std::vector<uint8_t> &back, const char *text, int x) {
    MemScreen s(800, 480, 32);
    std::memcpy(s.fb.workMem, back.data(), s.fb.memSize);
    putString(9, x, 400, text, 255, 255, 255, &s.fb, 0, 0, 0, 0);
    return std::vector<uint8_t>(s.fb.workMem, s.fb.workMem + s.fb.memSize);
}

std::vector<uint8_t> Screen(const std::string &root) {
    std::string bytes = ReadWholeFile(root + "/dev/fb0");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<uint8_t> BuildPicture(const char *name) {
    Picture pic;
    if (!ReadPicture(std::string(HELIX_BUILD_DIR) + "/" + name + ".png", &pic)) return {};
    return pic.Bgrx();
}

TEST(Splash, CountdownThenStatusPictureThenClosingScreen) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/opt/set/setup.txt"), SwitchesOff());
    TTFLoad("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 30, 9);
    const auto start = BuildPicture("start"), statusB = BuildPicture("statusB");
    ASSERT_EQ(start.size(), 1536000u);
    ASSERT_EQ(statusB.size(), 1536000u);
    std::vector<std::vector<uint8_t>> countdown;
    for (int n = 10; n >= 1; n--) {
        char text[32];
        std::snprintf(text, sizeof text, "Loading ...%2d", n);
        countdown.push_back(Expected(start, text, 300));
    }
    // The countdown text really is on the picture: white strokes near (300, 400).
    size_t white = 0;
    for (int y = 375; y <= 400; y++)
        for (int x = 300; x < 520; x++)
            white += countdown[0][y * 3200 + x * 4 + 1] == 255;
    ASSERT_GT(white, 100u);

    HelixProcess p;
    ASSERT_TRUE(p.Start(root.Path("/err.txt")));
    ASSERT_TRUE(p.WaitFor("Time Loading ...10..")) << p.Err();

    // Countdown frames, each exactly the splash plus its text, two of them
    // at least; then, after the splash phase, the "statusB" picture.
    std::set<int> seen;
    bool status = WaitUntil(
        [&] {
            SleepMs(40);
            auto screen = Screen(root.root);
            for (size_t k = 0; k < countdown.size(); k++)
                if (screen == countdown[k]) seen.insert(10 - static_cast<int>(k));
            return screen == statusB;
        },
        kPatienceMs);
    EXPECT_GE(seen.size(), 2u) << "countdown frames not seen";
    EXPECT_TRUE(status) << "statusB not shown";

    EXPECT_GE(p.Stop(SIGTERM), 0);
    auto closing = Expected(start, "Error! Close Program! Restart hw.", 330);
    Picture grabbed;
    ASSERT_TRUE(GrabScreen(root.root, &grabbed));
    EXPECT_EQ(grabbed.Bgrx(), closing) << "closing screen";
    EXPECT_EQ(Screen(root.root), closing);
}

} // namespace
