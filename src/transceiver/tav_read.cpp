#include "transceiver/tav_read.h"

#include "model/errors.h"
#include "model/works.h"
#include "platform/log.h"
#include "platform/usb.h"
#include "remote/frames.h"
#include "transceiver/serial.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr uint8_t kEndpoint = 0x86;
constexpr unsigned kCtlTimeoutMs = 1000;
constexpr unsigned kXferTimeoutMs = 2000;
// Longest wait of one event-loop pass, so the loop sees its switch drop.
constexpr int kEventWaitMs = 200;

void InfoTrace(const char *text) {
    LogInfo("%s", text);
    Trace("%s", text);
}

int ReadFloat(TavReader *r, uint16_t value, float *out) {
    uint8_t b[4];
    int n = UsbDevControlIn(r->dev, 0xA2, value, 0x151, b, 4, kCtlTimeoutMs);
    if (n < 4) return n < 0 ? n : -1;
    uint32_t u = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    std::memcpy(out, &u, 4);
    return 4;
}

// Finds, opens and identifies the first vendor-0x1721 device; 0 when it is
// the transceiver and ready.
int OpenDevice(TavReader *r) {
    UsbIdent ids[128];
    int n = UsbDevList(r->dev, ids, 128);
    if (n < 0) {
        LogInfo("Get Device Error\n");
        return -1;
    }
    for (int i = 0; i < n; i++) {
        if (ids[i].descErr != 0) {
            LogInfo("Get Device Descriptor %d %d\n", i, ids[i].descErr);
            continue;
        }
        LogInfo("%d vid %04x pid %04x %d\n", i, ids[i].vendor, ids[i].product, 0);
        if (ids[i].vendor != 0x1721) continue;
        if (UsbDevOpen(r->dev, i) != 0) {
            LogErr("Cannot open ZMX Device\n");
            return -1;
        }
        r->opened = true;
        LogInfo("ZMX Device Opened\n");
        if (UsbDevKernelDriverActive(r->dev) == 1) {
            LogInfo("Kernel Driver Active\n");
            if (UsbDevDetachKernelDriver(r->dev) == 0) LogInfo("Kernel Driver Detached\n");
        }
        if (UsbDevClaim(r->dev) != 0) {
            LogErr("Cannot claim Interface\n");
            return -1;
        }
        LogInfo("Interface claimed\n");
        uint8_t b[33] = {};
        if (UsbDevControlIn(r->dev, 0xFF, 0, 0, b, 2, kCtlTimeoutMs) == 2)
            LogInfo("USB Driver Version: %d.%d\n", b[0], b[1]);
        else
            LogInfo("USB Driver Version read failed\n");
        if (UsbDevControlIn(r->dev, 0xA2, 0x404C, 0x151, b, 2, kCtlTimeoutMs) == 2)
            LogInfo("HW Version: %d.%d\n", b[0], b[1]);
        else
            LogInfo("HW Version read failed\n");
        std::memset(b, 0, sizeof b);
        int got = UsbDevControlIn(r->dev, 0xA2, 0x4000, 0x151, b, 32, kCtlTimeoutMs);
        if (got < 32) {
            LogErr("Serial read failed (%d)\n", got);
            return -1;
        }
        if (ids[i].product == 0x061C || ids[i].product == 0x0610) {
            LogErr("%s", ids[i].product == 0x061C ? "ZMX S2 " : "ZMX S1 ");
            return -1;
        }
        if (ids[i].product == 0x061A) LogInfo("ZMX TAV ");
        // The serial fills all 32 bytes, with no terminator of its own.
        LogInfo("Serial: %-.32s\n", reinterpret_cast<const char *>(b));
        LogInfo("Device caught\n");
        UsbDevFreeList(r->dev);
        LogInfo("libusb devices list freed\n");
        return 0;
    }
    LogErr("Cannot find ZMX Device\n");
    return -1;
}

int Calibrate(TavReader *r) {
    struct {
        uint16_t value;
        float *out;
        const char *ok, *fail;
    } const cal[] = {
        {0x4028, &r->globalOffset, "Global Offset: %f\n", "Global Offset failed (%d)\n"},
        {0x402C, &r->lpOffset, "LP Offset: %f\n", "LP Offset failed (%d)\n"},
        {0x4030, &r->attOffset, "ATT Offset: %f\n", "ATT Offset failed (%d)\n"},
    };
    for (const auto &c : cal) {
        int n = ReadFloat(r, c.value, c.out);
        if (n != 4) {
            LogErr(c.fail, n);
            return -1;
        }
        LogInfo(c.ok, double(*c.out));
    }
    return 0;
}

void StartFifo(TavReader *r) {
    uint8_t b = 0;
    int n = UsbDevControlIn(r->dev, 0xE1, 0, 0xE900, &b, 1, kCtlTimeoutMs);
    if (n == 1)
        LogInfo("Stop FIFO\n");
    else
        LogInfo("Stop FIFO failed (%d)\n", n);
    n = UsbDevControlIn(r->dev, 0xE1, 0, 0xE800, &b, 1, kCtlTimeoutMs);
    if (n == 1)
        LogInfo("Init FIFO\n");
    else
        LogInfo("Init FIFO failed (%d)\n", n);
    b = 0;
    n = UsbDevControlIn(r->dev, 0xE1, 1, 0xE900, &b, 1, kCtlTimeoutMs);
    if (n != 1 || b != 0xE9) LogInfo("Enable SYN failed (%d %02X)\n", n, b);
    LogInfo("SYN Enabled\n");
}

void cb_in(UsbXfer *x) {
    TavTransferDone(static_cast<TavCtx *>(x->user), x->status, x->actual);
}

int Submit(TavCtx *c) {
    return UsbXferSubmit(c->xfer, kEndpoint, c->buf, kTavXferBytes, kXferTimeoutMs, cb_in, c);
}

} // namespace

int fftCalc(FftWork *f, const float *samples, int count, Works *w) {
    char wide = w->setup->Enable1600.load() == '0' ? '0' : '1';
    const int n = wide == '0' ? 2048 : 4096;
    if (count < 2 * n) return 0; // not enough samples for this size
    if (f->re.empty()) {
        f->re.assign(kFftMaxN, 0.0);
        f->im.assign(kFftMaxN, 0.0);
        f->win.assign(kFftMaxN, 0.0);
        f->co.assign(kFftMaxN / 2, 0.0);
        f->si.assign(kFftMaxN / 2, 0.0);
    }
    if (wide != f->wide) {
        f->wide = wide;
        f->win[0] = 0.0;
        for (int i = 1; i < n; i++) {
            double x = 2 * M_PI * i / (n - 1);
            f->win[size_t(i)] = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) -
                                0.01168 * std::cos(3 * x);
        }
        double th = 2 * M_PI / n, ct = std::cos(th), st = std::sin(th);
        f->co[0] = 1.0;
        f->si[0] = 0.0;
        for (int k = 1; k < n / 2; k++) {
            f->co[size_t(k)] = f->co[size_t(k - 1)] * ct + f->si[size_t(k - 1)] * st;
            f->si[size_t(k)] = f->si[size_t(k - 1)] * ct - f->co[size_t(k - 1)] * st;
        }
    }
    f->n = n;
    double *re = f->re.data(), *im = f->im.data();
    const double *win = f->win.data(), *co = f->co.data(), *si = f->si.data();
    for (int j = 0; j < n; j++) {
        re[j] = double(samples[2 * j]) * win[j];
        im[j] = double(samples[2 * j + 1]) * win[j];
    }
    // Radix-2 decimation in frequency, in place.
    for (int d = 1, e = n / 2; e >= 1; d *= 2, e /= 2) {
        for (int g = 0; g < d; g++) {
            for (int l = 0; l < e; l++) {
                int a = g * 2 * e + l, b = a + e, t = l * d;
                double fr = re[a] - re[b], fi = im[a] - im[b];
                re[a] += re[b];
                im[a] += im[b];
                re[b] = co[t] * fr - si[t] * fi;
                im[b] = si[t] * fr + co[t] * fi;
            }
        }
    }
    int bits = n == 2048 ? 11 : 12;
    for (int j = 0; j < n; j++) {
        int r = 0;
        for (int b = 0; b < bits; b++)
            r |= ((j >> b) & 1) << (bits - 1 - b);
        if (r > j) {
            std::swap(re[j], re[r]);
            std::swap(im[j], im[r]);
        }
    }
    const double scale = n / 2.0;
    for (int j = 0; j < n; j++) {
        double x = re[j] / scale, y = im[j] / scale;
        double m = std::sqrt(x * x + y * y);
        uint8_t byte = 0; // zero (or no) magnitude: the floor
        if (m > 0) {
            double db = 20.0 * std::log10(m);
            if (db < -192.0) db = -192.0;
            if (db > 51.0) db = 51.0;
            int h = int(db); // toward zero
            byte = h <= 50 ? uint8_t(h + 192) : 242;
        }
        f->out[j < n / 2 ? j + n / 2 : j - n / 2] = byte;
    }
    int first = n == 2048 ? 170 : 341, count2 = n == 2048 ? 854 : 1706;
    for (int i = 0; i < count2; i++)
        f->dec[i] = f->out[first + 2 * i];
    f->runs++;
    if (w->wsConnected == 1) sendWebSockSerSpectrFrame(w, f->dec, count2);
    return count2;
}

int TavScale(const uint8_t *bytes, int actual, float recalc, float *samples) {
    const float k = recalc / 2.0f / 1024.0f / 1024.0f / 1024.0f;
    int values = actual / 4;
    if (values > kTavSamples) values = kTavSamples;
    for (int i = 0; i < values; i++) {
        const uint8_t *p = bytes + 4 * i;
        int32_t v = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                            uint32_t(p[3]) << 24);
        samples[i] = float(v) * k;
    }
    return values;
}

void TavTransferDone(TavCtx *c, int status, int actual) {
    TavReader *r = c->reader;
    Works *w = r->w;
    if (r->stopping) return; // draining: nothing more is done with it
    if (status == kXferCompleted) {
        r->errCounter = 0;
        r->transfers++;
        if (w->setup->EnableSpectrum.load() != '0') {
            TavParams par{};
            getParameters(&par, w);
            float l = par.lp >= 1 ? r->lpOffset : 0.0f;
            r->recalc = float(std::pow(10.0, (21.4 - double(r->globalOffset) + double(l)) / 20.0));
            c->count = TavScale(c->buf, actual, r->recalc, c->samples);
            // A new setting counts from this transfer, whatever was left of the old.
            int every = w->fftDivide.load();
            if (every != r->divideSeen) {
                r->divideSeen = every;
                r->divide = 1;
            }
            if (--r->divide <= 0) {
                // A setting of 0 or less means every transfer.
                r->divide = every >= 1 ? every : 1;
                if (w->wsConnected == 1) fftCalc(&r->fft, c->samples, c->count, w);
            }
        }
    } else {
        static const char *const kText[] = {nullptr,
                                            "CB result: Error %d\n",
                                            "CB result: Timedout %d\n",
                                            "CB result: Cancelled %d\n",
                                            "CB result: Stalled %d\n",
                                            "CB result: Nodevice %d\n",
                                            "CB result: Overflowed %d\n"};
        if (status >= 1 && status <= 6) LogInfo(kText[status], c->num);
        r->errCounter++;
    }
    if (r->errCounter < kTavMaxErrors) {
        int e = Submit(c);
        if (e != 0) {
            LogErr("libusb_submit_transfer failed (%d)  %s:%d\n", e, "TAVRead", __LINE__);
            r->failed = true;
        }
    } else {
        LogErr("libusb_err_counter (%d), %s:%d\n", r->errCounter, "TAVRead", __LINE__);
    }
}

int TavReaderStart(TavReader *r, Works *w) {
    r->w = w;
    InfoTrace("Operations init vorn-comms version 1.0\n");
    int e = UsbDevInit(&r->dev);
    if (e != 0) {
        LogErr("Init Error %d\n", e);
        return -1;
    }
    if (OpenDevice(r) != 0 || Calibrate(r) != 0) return -1;
    StartFifo(r);
    for (int i = 0; i < kTavXfers; i++) {
        TavCtx *c = &r->ctx[i];
        c->num = i;
        c->reader = r;
        c->xfer = UsbXferAlloc(r->dev);
        if (c->xfer == nullptr) {
            LogErr("libusb_alloc_transfer failed\n");
            return -1;
        }
    }
    LogInfo("libusb_alloc_transfer succedeed\n");
    for (int i = 0; i < kTavXfers; i++) {
        e = Submit(&r->ctx[i]);
        if (e != 0) {
            if (i == kTavXfers - 1)
                LogErr("libusb_submit_transfer failed (%d), %s:%d\n", e, "TAVRead", __LINE__);
            else
                LogErr("libusb_submit_transfer failed (%d)\n", e);
            return -1;
        }
    }
    LogInfo("libusb_submit_transfer succedeed\n");
    LogInfo("SYN transfer starting\n");
    return 0;
}

bool TavReaderPass(TavReader *r) {
    if (r->w->setup->EnableFFT.load() != '1' || r->errCounter >= kTavMaxErrors || r->failed ||
        r->w->running == 0)
        return false;
    int e = UsbDevHandleEvents(r->dev, kEventWaitMs);
    if (e != 0) {
        std::printf("%d\n", e);
        std::fflush(stdout);
    }
    return true;
}

void ExitTavread(TavReader *r) {
    if (r->exited) return;
    r->exited = true;
    Works *w = r->w;
    AddErrore(w, kErrRemoteUsb);
    w->setup->EnableFFT = '0';
    w->remoteFault = 1;
    if (r->dev != nullptr) {
        // Cancel what is in flight and let every transfer come back before
        // the device goes away (bounded: a transfer times out within 2 s).
        r->stopping = true;
        for (TavCtx &c : r->ctx)
            if (c.xfer != nullptr && c.xfer->inFlight) UsbXferCancel(c.xfer);
        for (int pass = 0; pass < 30; pass++) {
            bool any = false;
            for (TavCtx &c : r->ctx)
                any |= c.xfer != nullptr && c.xfer->inFlight;
            if (!any) break;
            UsbDevHandleEvents(r->dev, 100);
        }
        bool leftInFlight = false;
        for (TavCtx &c : r->ctx) {
            if (c.xfer != nullptr && c.xfer->inFlight) {
                leftInFlight = true; // never free what the library still holds
                continue;
            }
            UsbXferFree(c.xfer);
            c.xfer = nullptr;
        }
        if (!leftInFlight) {
            UsbDevClose(r->dev);
            r->dev = nullptr;
        }
    }
    r->opened = false;
}

void *TAVRead(void *arg) {
    Works *w = static_cast<Works *>(arg);
    auto r = std::make_unique<TavReader>();
    if (TavReaderStart(r.get(), w) == 0) {
        while (TavReaderPass(r.get())) {
        }
        LogInfo("libusb_handle events completed (%d)\n", r->errCounter);
        LogInfo("%s Operations end\n", "TAVRead");
    }
    r->w = w;
    ExitTavread(r.get());
    // Transfers the library never gave back keep their buffers.
    if (r->dev != nullptr) r.release();
    return nullptr;
}
