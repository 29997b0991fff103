// Drawing a screenful of labels with the glyph cache and without it (every
// glyph rendered by FreeType on every call, as the text layer did before).
#include "display/fb.h"
#include "display/ttf.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <vector>

namespace {

struct Screen {
    FbScreen fb{};
    std::vector<uint8_t> mem;
    Screen() : mem(800 * 480 * 4) { fbSetup(&fb, 800, 480, 32, mem.data()); }
    ~Screen() { fbRelease(&fb); }
};

void LoadFonts() {
    static bool done = false;
    if (done) return;
    TTFLoad("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 20, 8);
    TTFLoad("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 24, 0);
    done = true;
}

// Twelve label rows like the status page, plus the soft-key captions.
void DrawScreenful(FbScreen *fb) {
    char line[96];
    for (int row = 0; row < 12; row++) {
        std::snprintf(line, sizeof line, "FWD:%02.01f, RFL:%02.01f , PW:%02.01f, SWR:%02.01f",
                      41.5 + row, 1.2 * row, 3.3, 1.1 + row / 10.0);
        putString(8, 5, 110 + 22 * row, "TEMPERATURE", 255, 255, 255, fb, 0, 0, 0, 0);
        putString(8, 180, 110 + 22 * row, line, 255, 255, 255, fb, 0, 0, 0, 0);
    }
    const char *keys[] = {"BANK", "ATT", "ANT", "TUNE", "MENU", "VIEW"};
    for (int k = 0; k < 6; k++)
        putString(0, 10 + 133 * k, 445, keys[k], 255, 255, 255, fb, 0, 0, 0, 0);
}

void BM_Screenful(benchmark::State &state) {
    LoadFonts();
    Screen s;
    TTFSetGlyphCache(state.range(0) != 0);
    for (auto _ : state) {
        DrawScreenful(&s.fb);
        benchmark::DoNotOptimize(s.fb.workMem[0]);
    }
    TTFSetGlyphCache(true);
    state.SetLabel(state.range(0) != 0 ? "glyph cache" : "render every glyph");
}
BENCHMARK(BM_Screenful)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Measure(benchmark::State &state) {
    LoadFonts();
    TTFSetGlyphCache(state.range(0) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(getStringSpace(8, "Tue Dec  8 07:49:10 2026"));
    TTFSetGlyphCache(true);
    state.SetLabel(state.range(0) != 0 ? "glyph cache" : "render every glyph");
}
BENCHMARK(BM_Measure)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
