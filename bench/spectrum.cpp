// The spectrum path of the USB reader for one transfer (scale the received
// bytes, window, FFT, dB bytes, thinning) at N = 4096, against the transfer
// period of the stream, and a plain recursive textbook FFT of the same size.
//
// The counter "x_realtime" is the transfer period divided by the time per
// transfer: how many times over the path keeps up with one transform per
// transfer. The receiver streams 192000 I/Q pairs a second (the 854 bytes of
// the narrow spectrum, every second bin of 2048, span 160 kHz), so a 32 KB
// transfer of 4096 pairs lasts 21.33 ms.
#include "transceiver/tav_read.h"
#include "unit_record.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr double kPeriodS = 4096.0 / 192000.0;

std::vector<uint8_t> Transfer() {
    std::vector<uint8_t> b(kTavXferBytes);
    for (int k = 0; k < 4096; k++) {
        double ph = 2 * M_PI * 0.0625 * k;
        int32_t iq[2] = {int32_t(2e8 * std::cos(ph)) + (k * 7919) % 4001,
                         int32_t(2e8 * std::sin(ph)) - (k * 104729) % 3001};
        for (int j = 0; j < 2; j++)
            for (int i = 0; i < 4; i++)
                b[size_t(8 * k + 4 * j + i)] = uint8_t(uint32_t(iq[j]) >> (8 * i));
    }
    return b;
}

void BM_SpectrumPerTransfer(benchmark::State &state) {
    UnitRecord u;
    u.setup.Enable1600 = '1';
    u.works.wsConnected = 0; // the transform without a send
    std::vector<uint8_t> bytes = Transfer();
    std::vector<float> samples(kTavSamples);
    FftWork f;
    for (auto _ : state) {
        int n = TavScale(bytes.data(), kTavXferBytes, 1.5f, samples.data());
        benchmark::DoNotOptimize(fftCalc(&f, samples.data(), n, &u.works));
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(kPeriodS, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SpectrumPerTransfer)->Unit(benchmark::kMicrosecond);

void TextbookFft(std::vector<std::complex<double>> &a) {
    size_t n = a.size();
    if (n == 1) return;
    std::vector<std::complex<double>> even(n / 2), odd(n / 2);
    for (size_t i = 0; i < n / 2; i++) {
        even[i] = a[2 * i];
        odd[i] = a[2 * i + 1];
    }
    TextbookFft(even);
    TextbookFft(odd);
    for (size_t k = 0; k < n / 2; k++) {
        std::complex<double> t = std::polar(1.0, -2 * M_PI * double(k) / double(n)) * odd[k];
        a[k] = even[k] + t;
        a[k + n / 2] = even[k] - t;
    }
}

void BM_TextbookFft4096(benchmark::State &state) {
    std::vector<uint8_t> bytes = Transfer();
    std::vector<float> samples(kTavSamples);
    TavScale(bytes.data(), kTavXferBytes, 1.5f, samples.data());
    std::vector<std::complex<double>> a(4096);
    for (auto _ : state) {
        for (int j = 0; j < 4096; j++)
            a[size_t(j)] = {samples[size_t(2 * j)], samples[size_t(2 * j + 1)]};
        TextbookFft(a);
        benchmark::DoNotOptimize(a.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(kPeriodS, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_TextbookFft4096)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
