// Shared tables and buffers with two threads at once: what one thread reads
// while another replaces it is always one whole version, never a mix.
#include "screenshot.h"
#include "unit.h"

#include "config/antenna_banks.h"
#include "supervisor/antenna.h"
#include "supervisor/timer.h"
#include "ui/view.h"

#include <gtest/gtest.h>
#include <map>

namespace {

// The keys step between two banks while the supervisor builds its status text.
TEST(SharedState, BankChangeNeverHandsTheSupervisorAMixedRow) {
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    WriteWholeFile(root.Path("/opt/set/antenna_b1.txt"), "AAAAAA 14000000 14350000 1 1 0 0 1.0\n");
    WriteWholeFile(root.Path("/opt/set/antenna_b2.txt"), "BBBBBB 14000000 14350000 1 2 0 2 2.0\n");
    w->freq = 14074000;
    LoadTabConfig(w, 1);
    std::atomic<bool> stop{false};
    std::thread keys([&] {
        for (int i = 0; !stop; i++)
            LoadTabConfig(w, 1 + i % 2);
    });
    std::string band = "AAAA";
    for (int n = 0; n < 3000 && (band == "AAAA" || band == "BBBB"); n++) {
        char text[kStatusTextLen + 1];
        CreaBufferDiStato(w, text);
        band.assign(text, 4);
    }
    stop = true;
    keys.join();
    EXPECT_TRUE(band == "AAAA" || band == "BBBB") << band;
}

// Two threads save the setup while each puts its own value in the live field.
TEST(SharedState, ConcurrentSetupSavesFormatWholeValues) {
    ScopedSimRoot root;
    TestUnit unit;
    Works *w = unit.w();
    std::atomic<int> mixed{0};
    auto saver = [&](int value) {
        for (int i = 0; i < 400; i++) {
            w->psValue[0] = value;
            char buf[4096];
            size_t len = 0;
            FormatSetupFile(w, buf, sizeof buf, &len);
            const std::string text(buf, len);
            mixed += text.find("PSpar1: 4095\n") == text.npos &&
                     text.find("PSpar1: 1500\n") == text.npos;
        }
    };
    std::thread a(saver, 4095), b(saver, 1500);
    a.join(), b.join();
    EXPECT_EQ(mixed.load(), 0);
}

// The keys load pages while the supervisor runs its passes: after every pass
// the background is wholly the picture its name says.
TEST(SharedState, PageLoadsNeverTearTheSupervisorsFrame) {
    ScreenUnit u;
    ScopedSimRoot root;
    Works *w = &u.works;
    std::map<std::string, std::vector<uint8_t>> pictures;
    for (const char *name : {"img1", "img3"}) {
        u.Background(name);
        pictures[name].assign(w->fb.backMem, w->fb.backMem + w->fb.memSize);
    }
    SupervisorState st;
    uint64_t now = 1000000;
    SupervisorStart(w, &st, now);
    std::atomic<bool> stop{false};
    std::thread keys([&] {
        for (int i = 0; !stop; i++) {
            w->viewType = 1 + i % 2;
            SetWorkImg(w);
        }
    });
    std::string torn;
    for (int n = 0; n < 60 && torn.empty(); n++) {
        SupervisorStep(w, &st, now += 10);
        std::lock_guard<std::recursive_mutex> frame(w->frameLock);
        const std::string name = w->imageName;
        if (pictures.count(name) == 0 ||
            !std::equal(pictures[name].begin(), pictures[name].end(), w->fb.backMem))
            torn = name;
    }
    stop = true;
    keys.join();
    EXPECT_EQ(torn, "") << "the background is not the picture it names";
}

} // namespace
