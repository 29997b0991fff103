// One supervisor screen pass (background restore, soft keys, information
// bar, meters or plot, show) against two plain copies of the 800 x 480 x 32
// screen, measured in the same run, with the readings steady (only what
// changes is drawn again) and moving on every pass. Run from the build
// directory, where the panel pictures are. The "x_two_copies" counter is the pass time over the
// time of two plain copies.
#include "config/setup.h"
#include "model/works.h"
#include "display/fb.h"
#include "display/fonts.h"
#include "display/png.h"
#include "model/screen.h"
#include "sim_root.h"
#include "unit_record.h"
#include "supervisor/meters.h"
#include "supervisor/timer.h"

#include <benchmark/benchmark.h>
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Processor time of this thread in ns: the machine may be shared, and wall
// time would count the other programs' turns.
double CpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

constexpr size_t kScreenBytes = 800 * 480 * 4; // 1,536,000

struct BenchUnit : UnitRecord {
    std::vector<uint8_t> screen = std::vector<uint8_t>(kScreenBytes);
    SupervisorState st;
    uint64_t now = 1000;

    explicit BenchUnit(int view) {
        Works *w = &works;
        fbSetup(&w->fb, 800, 480, 32, screen.data());
        w->ModeWorkIdx = 2;
        w->bandRow = 100;
        w->catFreq = w->freq = w->freqPrev = 14074000;
        w->viewType = view;
        w->viewTimeStr = 1;
        w->auxFwdEnable = 1;
        w->pwrFwd = 41.5f;
        w->pwrFwdAux = 44.0f;
        w->pwrRefl = 2.5f;
        w->swr = 1.3f;
        std::snprintf(w->imageName, sizeof w->imageName, "%s", view >= 4 ? "m5a" : "img1");
        getPng(w, 1);
        float levels[kPlotLevels];
        for (int i = 0; i < kPlotLevels; i++)
            levels[i] = -100.0f + static_cast<float>((i * 37) % 23);
        std::memcpy(spectrum1, levels, sizeof levels);
        SupervisorStart(w, &st, now);
    }
    ~BenchUnit() { fbRelease(&works.fb); }
};

// A simulated root for the whole run: the unit's faces and the stand-in
// commands the status readers run.
struct BenchRoot {
    std::string dir = MakeTempSimRoot();
    BenchRoot() {
        UseSimRoot(dir);
        LoadFontSet();
    }
    ~BenchRoot() { RemoveSimRoot(dir); }
};

void LoadFontsOnce() {
    static BenchRoot root;
}

// Nanoseconds of two plain copies of the screen (best of a few rounds).
double TwoCopiesNs() {
    std::vector<uint8_t> a(kScreenBytes, 1), b(kScreenBytes, 2), c(kScreenBytes, 3);
    double best = 1e18;
    for (int round = 0; round < 5; round++) {
        double t0 = CpuNs();
        constexpr int n = 50;
        for (int i = 0; i < n; i++) {
            std::memcpy(b.data(), a.data(), kScreenBytes);
            std::memcpy(c.data(), b.data(), kScreenBytes);
            benchmark::ClobberMemory();
        }
        best = std::min(best, (CpuNs() - t0) / n);
    }
    return best;
}

void BM_TwoPlainCopies(benchmark::State &state) {
    std::vector<uint8_t> a(kScreenBytes, 1), b(kScreenBytes, 2), c(kScreenBytes, 3);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), kScreenBytes);
        std::memcpy(c.data(), b.data(), kScreenBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kScreenBytes);
}
BENCHMARK(BM_TwoPlainCopies)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

void BM_SupervisorPass(benchmark::State &state) {
    LoadFontsOnce();
    auto unit = std::make_unique<BenchUnit>(static_cast<int>(state.range(0)));
    const double copies = TwoCopiesNs();
    double total = 0;
    // Arg 1: the readings change on every pass (transmitting), so the meters
    // are drawn every time, and one spectrum level; arg 2: every spectrum
    // level too. Otherwise only what changes is drawn again.
    const bool moving = state.range(1) != 0;
    int n = 0;
    for (auto _ : state) {
        unit->now += 10;
        unit->works.spectraStored.fetch_add(1); // spectra keep coming (the plot has data)
        if (moving) {
            unit->works.pwrFwd = 20.0f + static_cast<float>(n % 40);
            unit->works.pwrFwdAux = 22.0f + static_cast<float>(n % 40);
            unit->works.swr = 1.1f + 0.01f * static_cast<float>(n % 40);
            float level;
            std::memcpy(&level, &unit->spectrum1[n % kPlotLevels], sizeof level);
            level += 1.0f;
            std::memcpy(&unit->spectrum1[n % kPlotLevels], &level, sizeof level);
            if (state.range(1) == 2) { // a live spectrum: every level moves
                for (int i = 0; i < kPlotLevels; i++) {
                    level = -100.0f + static_cast<float>((i * 37 + n * 11) % 23);
                    std::memcpy(&unit->spectrum1[i], &level, sizeof level);
                }
            }
            n++;
        }
        double t0 = CpuNs();
        SupervisorStep(&unit->works, &unit->st, unit->now);
        total += CpuNs() - t0;
        benchmark::DoNotOptimize(unit->works.fb.screenMem[0]);
    }
    state.counters["x_two_copies"] = total / static_cast<double>(state.iterations()) / copies;
    state.SetLabel(std::string(state.range(0) >= 4 ? "plot view" : "meter view") +
                   (moving ? ", readings moving" : ", steady") +
                   (state.range(1) == 2 ? ", whole spectrum" : ""));
}
BENCHMARK(BM_SupervisorPass)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({4, 0})
    ->Args({4, 1})
    ->Args({4, 2})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
