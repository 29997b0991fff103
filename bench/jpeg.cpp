// Decoding 800 x 480 colour JPEG images (baseline and progressive, H2V2 and
// H1V1) with the controller's decoder and with libjpeg-turbo in the same
// process, both with box upsampling, integer IDCT and RGB output. Prints the
// ratio ours / libjpeg-turbo per image (CPU time, steadier on a shared
// machine) at the end.
//
// libjpeg-turbo chooses its SIMD code once per process from the environment,
// so the figure without SIMD needs its own run:
//   helix-bench-jpeg              libjpeg-turbo with SIMD
//   helix-bench-jpeg --no-simd    sets JSIMD_FORCENONE=1 before the library is first used
#include "jpeg/jpgd.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<uint8_t>;

// A screen-like picture: gradient ground with text strokes, colour bars, and
// a noisy patch (a spectrum plot's worth of detail).
Bytes ScreenPicture(int w, int h) {
    Bytes px(static_cast<size_t>(w) * h * 3);
    uint32_t seed = 99;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t *p = &px[(static_cast<size_t>(y) * w + x) * 3];
            if (y < h / 2) {
                bool ink = (x % 11 < 2 && y % 20 < 14) || (y % 20 == 7 && x % 11 < 7);
                p[0] = ink ? 250 : static_cast<uint8_t>(x * 60 / w);
                p[1] = ink ? 250 : static_cast<uint8_t>(40 + y * 80 / h);
                p[2] = ink ? 200 : static_cast<uint8_t>(120 - x * 50 / w);
            } else if (x < w / 2) {
                static const uint8_t bars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255},
                                                   {0, 255, 0},     {255, 0, 255}, {255, 0, 0},
                                                   {0, 0, 255},     {0, 0, 0}};
                std::memcpy(p, bars[x * 16 / w], 3);
            } else {
                seed = seed * 1103515245u + 12345u;
                uint8_t n = static_cast<uint8_t>(seed >> 24);
                p[0] = static_cast<uint8_t>(n / 2);
                p[1] = static_cast<uint8_t>(64 + n / 4);
                p[2] = static_cast<uint8_t>(n);
            }
        }
    return px;
}

Bytes Encode(bool progressive, bool h2v2) {
    const int w = 800, h = 480;
    Bytes px = ScreenPicture(w, h);
    jpeg_compress_struct c;
    jpeg_error_mgr jerr;
    c.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&c);
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    c.comp_info[0].h_samp_factor = h2v2 ? 2 : 1;
    c.comp_info[0].v_samp_factor = h2v2 ? 2 : 1;
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &px[static_cast<size_t>(c.next_scanline) * w * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes b(mem, mem + size);
    std::free(mem);
    return b;
}

struct Case {
    const char *name;
    Bytes jpg;
};
std::vector<Case> &Cases() {
    static std::vector<Case> cases;
    if (cases.empty()) {
        cases.push_back({"baseline_h2v2", Encode(false, true)});
        cases.push_back({"baseline_h1v1", Encode(false, false)});
        cases.push_back({"progressive_h2v2", Encode(true, true)});
        cases.push_back({"progressive_h1v1", Encode(true, false)});
    }
    return cases;
}

void Ours(benchmark::State &state, const Bytes *jpg) {
    for (auto _ : state) {
        int w, h, comps;
        unsigned char *p = jpgd::decompress_jpeg_image_from_memory(
            jpg->data(), static_cast<int>(jpg->size()), &w, &h, &comps, 3);
        if (p == nullptr) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

void Turbo(benchmark::State &state, const Bytes *jpg) {
    Bytes out(800 * 480 * 3);
    for (auto _ : state) {
        jpeg_decompress_struct c;
        jpeg_error_mgr jerr;
        c.err = jpeg_std_error(&jerr);
        jpeg_create_decompress(&c);
        jpeg_mem_src(&c, jpg->data(), static_cast<unsigned long>(jpg->size()));
        jpeg_read_header(&c, TRUE);
        c.out_color_space = JCS_RGB;
        c.do_fancy_upsampling = FALSE;
        c.dct_method = JDCT_ISLOW;
        jpeg_start_decompress(&c);
        while (c.output_scanline < c.output_height) {
            JSAMPROW row = &out[static_cast<size_t>(c.output_scanline) * c.output_width * 3];
            jpeg_read_scanlines(&c, &row, 1);
        }
        jpeg_finish_decompress(&c);
        jpeg_destroy_decompress(&c);
        benchmark::DoNotOptimize(out.data());
    }
}

// Console output plus, at the end, ours / libjpeg-turbo per image.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        // With repetitions the median counts; otherwise the single run.
        for (const Run &r : runs) {
            if (r.error_occurred) continue;
            const std::string &name = r.run_name.function_name;
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                medians_[name] = r.GetAdjustedCPUTime();
            else if (r.run_type == Run::RT_Iteration)
                times_[name] = r.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const char *simd = std::getenv("JSIMD_FORCENONE");
        std::printf("\nours / libjpeg-turbo (%s):\n",
                    simd && std::strcmp(simd, "1") == 0 ? "SIMD off" : "SIMD on");
        for (auto &[name, t] : medians_)
            times_[name] = t;
        for (const Case &c : Cases()) {
            auto a = times_.find(std::string("ours/") + c.name);
            auto b = times_.find(std::string("turbo/") + c.name);
            if (a == times_.end() || b == times_.end()) continue;
            std::printf("  %-18s %6.3f ms vs %6.3f ms  ratio %.2f\n", c.name, a->second, b->second,
                        a->second / b->second);
        }
    }

  private:
    std::map<std::string, double> times_, medians_;
};

} // namespace

int main(int argc, char **argv) {
    std::vector<char *> args;
    for (int i = 0; i < argc; i++) {
        if (std::strcmp(argv[i], "--no-simd") == 0)
            setenv("JSIMD_FORCENONE", "1", 1); // before libjpeg-turbo is first used
        else
            args.push_back(argv[i]);
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    for (Case &c : Cases()) {
        benchmark::RegisterBenchmark((std::string("ours/") + c.name).c_str(), Ours, &c.jpg)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("turbo/") + c.name).c_str(), Turbo, &c.jpg)
            ->Unit(benchmark::kMillisecond);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
