// TAV USB spectrum reader: the transceiver's I/Q sample stream over USB,
// turned into spectra for the remote peer ("SP" frames). Runs while the setup
// switch EnableFFT is '1'.
#pragma once
#include <cstdint>
#include <vector>

struct Works;
struct UsbDev;
struct UsbXfer;

constexpr int kTavXfers = 4;
constexpr int kTavXferBytes = 32768;
constexpr int kTavSamples = 8192; // floats per transfer (4096 I/Q pairs)
constexpr int kTavMaxErrors = 11;
constexpr int kFftMaxN = 4096;

// The transform's working arrays, made once for the largest size; the window
// and twiddles are remade whenever the size switch changes.
struct FftWork {
    std::vector<double> re, im, win, co, si;
    uint8_t out[kFftMaxN] = {}; // one byte per bin, centre at N/2
    uint8_t dec[kFftMaxN] = {}; // the thinned bytes that are sent
    int n = 0;                  // size of the last transform
    char wide = 0;              // Enable1600 at the last call (0: never called)
    long runs = 0;              // transforms made
};

struct TavReader;

// One transfer in flight: its number, transfer, receive buffer and samples.
struct TavCtx {
    int num = 0;
    UsbXfer *xfer = nullptr;
    TavReader *reader = nullptr;
    int count = 0; // samples converted from the last transfer
    float samples[kTavSamples] = {};
    uint8_t buf[kTavXferBytes] = {};
};

struct TavReader {
    Works *w = nullptr;
    UsbDev *dev = nullptr;
    bool opened = false; // device opened (ExitTavread closes it)
    bool exited = false; // ExitTavread ran
    bool stopping = false;
    bool failed = false; // a resubmission failed: the loop ends
    float globalOffset = 0, lpOffset = 0, attOffset = 0;
    float recalc = 0;
    int divide = 1;     // transfers until the next transform
    int divideSeen = 0; // the fftDivide the countdown was loaded from
    int errCounter = 0;
    long transfers = 0; // completed transfers
    TavCtx ctx[kTavXfers];
    FftWork fft;
};

void *TAVRead(void *arg);

// Transforms one buffer of `count` floats (interleaved I, Q): N = 2048 or
// 4096 by Enable1600, window, FFT, dB bytes, centre shift, thinning to 854 or
// 1706 bytes in f->dec, sent while a peer is connected. Returns the number of
// bytes made, or 0 when `count` holds fewer than N pairs.
int fftCalc(FftWork *f, const float *samples, int count, Works *works);

// Converts `actual` received bytes (signed 32-bit little-endian) to at most
// kTavSamples calibrated floats; returns the count.
int TavScale(const uint8_t *bytes, int actual, float recalc, float *samples);

// The reader's steps, also driven by tests: start-up (device search,
// versions, serial, calibration, FIFO, four transfers) returns 0 when the
// stream runs; one pass of the event loop returns false when the loop ends;
// ExitTavread stops and closes everything (safe to call again).
int TavReaderStart(TavReader *r, Works *works);
bool TavReaderPass(TavReader *r);
void ExitTavread(TavReader *r);
// What cb_in does with one finished transfer of context `c`.
void TavTransferDone(TavCtx *c, int status, int actual);
