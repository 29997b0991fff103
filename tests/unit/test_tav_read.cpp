// The USB spectrum reader: the transform against a plain DFT, and the reader
// against the simulated sample device.
#include "model/errors.h"
#include "platform/files.h"
#include "transceiver/tav_read.h"
#include "unit.h"

#include "remote/ws_proto.h"

#include <algorithm>
#include <cmath>
#include <sys/socket.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// The byte the reader makes of one bin, from a DFT written out directly.
std::vector<int> DftBytes(const std::vector<float> &s, int n) {
    std::vector<int> out(static_cast<size_t>(n));
    for (int k = 0; k < n; k++) {
        double re = 0, im = 0;
        for (int j = 0; j < n; j++) {
            double w = j == 0 ? 0.0
                              : 0.35875 - 0.48829 * std::cos(2 * M_PI * j / (n - 1)) +
                                    0.14128 * std::cos(4 * M_PI * j / (n - 1)) -
                                    0.01168 * std::cos(6 * M_PI * j / (n - 1));
            double x = s[size_t(2 * j)] * w, y = s[size_t(2 * j + 1)] * w;
            double a = -2 * M_PI * double(k) * j / n;
            re += x * std::cos(a) - y * std::sin(a);
            im += x * std::sin(a) + y * std::cos(a);
        }
        double m = std::hypot(re, im) / (n / 2.0);
        int h = m > 0 ? int(std::max(-192.0, 20 * std::log10(m))) : -192;
        out[size_t((k + n / 2) % n)] = h <= 50 ? h + 192 : 242;
    }
    return out;
}

std::vector<float> Tone(int bin, int n, double amp) {
    std::vector<float> s(kTavSamples);
    for (int j = 0; j < kTavSamples / 2; j++) {
        s[size_t(2 * j)] = float(amp * std::cos(2 * M_PI * bin * j / n));
        s[size_t(2 * j + 1)] = float(amp * std::sin(2 * M_PI * bin * j / n));
    }
    return s;
}

TEST(Spectrum, TransformMatchesDftAndSizesFollowTheSwitch) {
    TestUnit u;
    FftWork f;
    u.setup.Enable1600 = '0';
    const int k = 300;
    std::vector<float> s = Tone(k, 2048, 0.25);
    for (size_t i = 0; i < s.size(); i += 7) // some noise so every bin is checked
        s[i] += 1e-4f;
    ASSERT_EQ(fftCalc(&f, s.data(), kTavSamples, u.w()), 854);
    std::vector<int> ref = DftBytes(s, 2048);
    int peak = 0, worst = 0;
    for (int j = 0; j < 2048; j++) {
        if (f.out[j] > f.out[peak]) peak = j;
        worst = std::max(worst, std::abs(int(f.out[j]) - ref[size_t(j)]));
    }
    EXPECT_EQ(peak, k + 1024);
    EXPECT_LE(worst, 1);
    for (int i = 0; i < 854; i++)
        ASSERT_EQ(f.dec[i], f.out[170 + 2 * i]);

    // The wide size from the next transform on, with its own window and twiddles.
    u.setup.Enable1600 = '1';
    s = Tone(-700, 4096, 0.5);
    ASSERT_EQ(fftCalc(&f, s.data(), kTavSamples, u.w()), 1706);
    peak = 0;
    for (int j = 0; j < 4096; j++)
        if (f.out[j] > f.out[peak]) peak = j;
    EXPECT_EQ(peak, 2048 - 700);
    EXPECT_EQ(f.dec[0], f.out[341]);

    // Silence is the floor everywhere (no infinity turned into a byte).
    std::vector<float> zero(kTavSamples, 0.0f);
    ASSERT_EQ(fftCalc(&f, zero.data(), kTavSamples, u.w()), 1706);
    for (int j = 0; j < 4096; j++)
        ASSERT_EQ(f.out[j], 0) << j;
    // Too few samples for the size: no transform.
    EXPECT_EQ(fftCalc(&f, zero.data(), 4096, u.w()), 0);
    EXPECT_EQ(f.runs, 3);
}

struct SimReader {
    ScopedSimRoot root;
    TestUnit u;
    SimReader(const std::string &product, const std::string &conf) {
        WriteWholeFile(root.Path("/lsusb.txt"), "Bus 001 Device 002: ID 1d6b:0002 hub\n"
                                                "Bus 001 Device 005: ID 1721:" +
                                                    product + " receiver\n");
        MakeParentDirs(root.Path("/sim/x"));
        WriteWholeFile(root.Path("/sim/tav-usb.conf"), "rate 0\n" + conf);
        u.works.errSuspend = 0; // past start-up: errors are recorded
        u.setup.EnableFFT = '1';
        u.setup.EnableSpectrum = '1';
        u.setup.Enable1600 = '1';
    }
    std::string Log() { return ReadWholeFile(root.Path("/var/log/helix.log")); }
    int Count(const std::string &text) {
        std::string log = Log();
        int n = 0;
        for (size_t p = log.find(text); p != std::string::npos; p = log.find(text, p + 1))
            n++;
        return n;
    }
};

TEST(Spectrum, ReaderCountsTransformsByDivideAndPeer) {
    SimReader s("061a", "tone 12000 -20\nnoise -90\ncal 2.0 3.0 4.0\n");
    auto r = std::make_unique<TavReader>();
    Works *w = s.u.w();
    w->tavPar->lp = 1;
    ASSERT_EQ(TavReaderStart(r.get(), w), 0);
    EXPECT_EQ(s.Count("Serial: SIM-TAV-0001-0123456789ABCDEFGHI\n"), 1);
    EXPECT_FLOAT_EQ(r->lpOffset, 3.0f);

    // No peer: transfers flow, nothing is transformed.
    w->wsConnected = 0;
    w->fftDivide = 2;
    for (int i = 0; i < 6; i++)
        ASSERT_TRUE(TavReaderPass(r.get()));
    EXPECT_EQ(r->transfers, 6);
    EXPECT_EQ(r->fft.runs, 0);
    // Calibration: 21.4 dB less the global offset, plus the low-pass offset.
    EXPECT_FLOAT_EQ(r->recalc, float(std::pow(10.0, (21.4 - 2.0 + 3.0) / 20.0)));

    // A peer (its socket gone: sends fail quietly): every second transfer.
    w->wsConnected = 1;
    w->wsSocket = -1;
    for (int i = 0; i < 10; i++)
        TavReaderPass(r.get());
    EXPECT_EQ(r->fft.runs, 5);
    // The 12 kHz tone at 192 kHz lands 256 bins above the centre.
    int peak = 0;
    for (int j = 0; j < 4096; j++)
        if (r->fft.out[j] > r->fft.out[peak]) peak = j;
    EXPECT_EQ(peak, 2048 + 256);

    // 0 (the setup default) transforms every transfer; it never wraps.
    w->fftDivide = 0;
    long before = r->fft.runs;
    for (int i = 0; i < 4; i++)
        TavReaderPass(r.get());
    EXPECT_EQ(r->fft.runs, before + 4);

    ExitTavread(r.get());
    ExitTavread(r.get()); // a second exit does nothing more
    EXPECT_EQ(r->dev, nullptr);
    EXPECT_EQ(ExistError(w, 5), 1);
    EXPECT_EQ(w->setup->EnableFFT.load(), '0');
}

TEST(Spectrum, ShortTransfersAreNotTransformed) {
    SimReader s("061a", "short 4096\n");
    auto r = std::make_unique<TavReader>();
    Works *w = s.u.w();
    ASSERT_EQ(TavReaderStart(r.get(), w), 0);
    w->wsConnected = 1;
    w->wsSocket = -1;
    w->fftDivide = 1;
    for (int i = 0; i < 4; i++)
        TavReaderPass(r.get());
    EXPECT_EQ(r->transfers, 4);
    EXPECT_EQ(r->fft.runs, 0);
    ExitTavread(r.get());
}

TEST(Spectrum, ThreadSendsSpectraToAPeerUntilSwitchedOff) {
    SimReader s("061a", "rate 192000\ntone 12000 -20\nnoise -90\n");
    Works *w = s.u.w();
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    timeval tv{5, 0};
    setsockopt(sv[1], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    w->wsSocket = sv[0];
    w->wsConnected = 1;
    w->fftDivide = 2;
    RunningThread t(TAVRead, w);
    // One whole "SP" object: 526-byte chunks of tag, total, offset, 512 bytes.
    std::vector<uint8_t> bins;
    uint32_t total = 0;
    while (total == 0 || bins.size() < total) {
        uint8_t c[526];
        size_t got = 0;
        while (got < sizeof c) {
            ssize_t r = recv(sv[1], c + got, sizeof c - got, 0);
            ASSERT_GT(r, 0);
            got += size_t(r);
        }
        ASSERT_EQ(c[4], 'S');
        uint32_t t = WsGet32(c + 6), off = WsGet32(c + 10);
        if (off == 0) bins.clear();
        total = t;
        for (uint32_t i = 0; i < 512 && off + i < t; i++)
            bins.push_back(c[14 + i]);
    }
    ASSERT_EQ(total, 1706u);
    size_t peak = size_t(std::max_element(bins.begin(), bins.end()) - bins.begin());
    EXPECT_NEAR(double(peak), (2048 + 256 - 341) / 2.0, 1.0);
    s.u.setup.EnableFFT = '0';
    EXPECT_TRUE(t.WaitDone(kPatienceMs));
    w->wsConnected = 0;
    close(sv[0]);
    close(sv[1]);
    EXPECT_EQ(s.Count("TAVRead Operations end"), 1);
}

TEST(Spectrum, RefusedProductAndFailingStreamEndWithError5) {
    {
        SimReader s("061c", "");
        TAVRead(s.u.w());
        EXPECT_EQ(s.Count("ZMX S2 "), 1);
        EXPECT_EQ(ExistError(s.u.w(), 5), 1);
        EXPECT_EQ(s.u.setup.EnableFFT.load(), '0');
        EXPECT_EQ(s.Count("SYN Enabled"), 0);
    }
    {
        SimReader s("061a", "fail 0\n");
        TAVRead(s.u.w()); // ends by itself
        EXPECT_EQ(s.Count("CB result: Error"), 11);
        EXPECT_EQ(s.Count("libusb_err_counter (11)"), 1);
        EXPECT_EQ(ExistError(s.u.w(), 5), 1);
        EXPECT_EQ(s.u.w()->remoteFault.load(), 1);
    }
}

} // namespace
