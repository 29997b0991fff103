// One supervisor screen pass (background restore, soft keys, information
// bar, meters or plot, show) against two plain copies of the 800 x 480 x 32
// screen, with the readings steady (only what changes is drawn again) and
// moving on every pass. Run from the build directory, where the panel
// pictures are.
//
// The machine may be shared, so the ratio is measured the way that
// reproduces: in rounds, each case's block of passes right after a block of
// two copies, the cases interleaved, every round the same; the table gives
// each case's median over the rounds and the spread (lowest to highest).
//
// usage: helix-bench-supervisor-pass [ROUNDS]   (default 31)
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
#include <cstdlib>
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

// Nanoseconds of one pair of plain copies, the mean of a block.
double TwoCopiesNs(std::vector<uint8_t> *a, std::vector<uint8_t> *b, std::vector<uint8_t> *c) {
    constexpr int n = 20;
    double t0 = CpuNs();
    for (int i = 0; i < n; i++) {
        std::memcpy(b->data(), a->data(), kScreenBytes);
        std::memcpy(c->data(), b->data(), kScreenBytes);
        benchmark::ClobberMemory();
    }
    return (CpuNs() - t0) / n;
}

struct Case {
    int view, moving; // moving 1: the readings and one spectrum level, 2: every level too
    const char *label;
    std::unique_ptr<BenchUnit> unit;
    int n = 0;
    std::vector<double> passUs, ratio;
};

// Nanoseconds of one pass, the mean of a block.
double PassNs(Case *c) {
    constexpr int passes = 200;
    Works *w = &c->unit->works;
    double total = 0;
    for (int k = 0; k < passes; k++) {
        c->unit->now += 10;
        w->spectraStored.fetch_add(1); // spectra keep coming (the plot has data)
        if (c->moving != 0) {
            int n = c->n++;
            w->pwrFwd = 20.0f + static_cast<float>(n % 40);
            w->pwrFwdAux = 22.0f + static_cast<float>(n % 40);
            w->swr = 1.1f + 0.01f * static_cast<float>(n % 40);
            float level;
            std::memcpy(&level, &c->unit->spectrum1[n % kPlotLevels], sizeof level);
            level += 1.0f;
            std::memcpy(&c->unit->spectrum1[n % kPlotLevels], &level, sizeof level);
            for (int i = 0; c->moving == 2 && i < kPlotLevels; i++) {
                level = -100.0f + static_cast<float>((i * 37 + n * 11) % 23);
                std::memcpy(&c->unit->spectrum1[i], &level, sizeof level);
            }
        }
        double t0 = CpuNs();
        SupervisorStep(w, &c->unit->st, c->unit->now);
        total += CpuNs() - t0;
        benchmark::DoNotOptimize(w->fb.screenMem[0]);
    }
    return total / passes;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

std::string Spread(const std::vector<double> &v, const char *fmt) {
    char buf[80];
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    std::snprintf(buf, sizeof buf, fmt, Median(v), *lo, *hi);
    return buf;
}

} // namespace

int main(int argc, char **argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 31;
    if (rounds < 3 || rounds > 1000) {
        std::fprintf(stderr, "usage: %s [ROUNDS 3..1000]\n", argv[0]);
        return 2;
    }
    BenchRoot root;
    Case cases[] = {{1, 0, "meter view, steady", nullptr, 0, {}, {}},
                    {1, 1, "meter view, readings moving", nullptr, 0, {}, {}},
                    {2, 1, "meter view (SWR), readings moving", nullptr, 0, {}, {}},
                    {4, 0, "plot view, steady", nullptr, 0, {}, {}},
                    {4, 1, "plot view, readings moving", nullptr, 0, {}, {}},
                    {4, 2, "plot view, readings moving, whole spectrum", nullptr, 0, {}, {}}};
    std::vector<uint8_t> a(kScreenBytes, 1), b(kScreenBytes, 2), c(kScreenBytes, 3);
    std::vector<double> copiesUs;
    for (Case &k : cases) {
        k.unit = std::make_unique<BenchUnit>(k.view);
        PassNs(&k); // the first, whole drawing and the caches warm
    }
    for (int r = 0; r < rounds; r++) {
        for (Case &k : cases) {
            double copies = TwoCopiesNs(&a, &b, &c), pass = PassNs(&k);
            copiesUs.push_back(copies / 1000);
            k.passUs.push_back(pass / 1000);
            k.ratio.push_back(pass / copies);
        }
    }
    std::printf("| case | pass, µs: median (lowest–highest) | pass / two copies: median "
                "(lowest–highest) |\n|---|---|---|\n");
    for (const Case &k : cases)
        std::printf("| %s | %s | %s |\n", k.label, Spread(k.passUs, "%.3g (%.3g–%.3g)").c_str(),
                    Spread(k.ratio, "%.3f (%.3f–%.3f)").c_str());
    std::printf("\nTwo plain copies of the screen: %s µs, median (lowest–highest) of %zu blocks; "
                "%d rounds of 200 passes per case.\n",
                Spread(copiesUs, "%.4g (%.4g–%.4g)").c_str(), copiesUs.size(), rounds);
    return 0;
}
