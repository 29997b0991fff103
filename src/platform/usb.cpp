#include "platform/usb.h"

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <libusb-1.0/libusb.h>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>

namespace {

bool Simulated() {
    return !RootPrefix().empty();
}

// The simulated bus: "ID vvvv:pppp" on each line of <root>/lsusb.txt.
int SimList(UsbIdent *out, int max) {
    std::string text;
    if (!ReadFileText("/lsusb.txt", &text)) return 0;
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (n < max && std::getline(in, line)) {
        size_t p = line.find("ID ");
        unsigned v = 0, pr = 0;
        if (p == std::string::npos || std::sscanf(line.c_str() + p + 3, "%4x:%4x", &v, &pr) != 2)
            continue;
        out[n].vendor = uint16_t(v);
        out[n].product = uint16_t(pr);
        out[n].descErr = 0;
        n++;
    }
    return n;
}

int RealList(libusb_context *ctx, UsbIdent *out, int max, libusb_device ***keep) {
    libusb_device **list = nullptr;
    ssize_t n = libusb_get_device_list(ctx, &list);
    if (n < 0) return int(n);
    int k = 0;
    for (ssize_t i = 0; i < n && k < max; i++, k++) {
        libusb_device_descriptor d{};
        out[k].descErr = libusb_get_device_descriptor(list[i], &d);
        out[k].vendor = d.idVendor;
        out[k].product = d.idProduct;
    }
    if (keep != nullptr)
        *keep = list;
    else
        libusb_free_device_list(list, 1);
    return k;
}

struct CountCache {
    uint64_t when = 0;
    int count = 0;
};
std::mutex gCountLock;
std::map<uint32_t, CountCache> gCounts;

} // namespace

int UsbListDevices(UsbIdent *out, int max) {
    if (Simulated()) return SimList(out, max);
    libusb_context *ctx = nullptr;
    int r = libusb_init(&ctx);
    if (r != 0) return r;
    r = RealList(ctx, out, max, nullptr);
    libusb_exit(ctx);
    return r;
}

int UsbCountDevices(uint16_t vendor, uint16_t product, uint64_t now) {
    std::lock_guard<std::mutex> lock(gCountLock);
    uint32_t key = uint32_t(vendor) << 16 | product;
    auto it = gCounts.find(key);
    if (it != gCounts.end() && !expired(it->second.when, now, 1000) && now >= it->second.when)
        return it->second.count;
    UsbIdent ids[128];
    int n = UsbListDevices(ids, 128);
    int count = 0;
    for (int i = 0; i < n; i++)
        count += ids[i].descErr == 0 && ids[i].vendor == vendor && ids[i].product == product;
    gCounts[key] = CountCache{now, count};
    return count;
}

// --- the sample device ---

namespace {

// The generator behind the simulated device.
struct SimDevice {
    UsbSimConf conf;
    UsbIdent ids[16];
    int count = 0;
    int opened = -1;
    std::deque<UsbXfer *> queue; // submitted, oldest first
    uint64_t next = 0;           // sample index of the next transfer
    long done = 0;               // transfers completed so far
    uint64_t dueUs = 0;          // when the next completion is due (pacing)
    std::mt19937 rng{1234};
};

uint64_t NowUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

void Put32(uint8_t *p, int32_t v) {
    uint32_t u = uint32_t(v);
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
    p[2] = uint8_t(u >> 16);
    p[3] = uint8_t(u >> 24);
}

int32_t Clamp32(double v) {
    if (v > 2147483647.0) return 2147483647;
    if (v < -2147483648.0) return INT32_MIN;
    return int32_t(std::lround(v));
}

void SimFill(SimDevice *s, UsbXfer *x) {
    const UsbSimConf &c = s->conf;
    if (c.failFrom >= 0 && s->done >= c.failFrom) {
        x->status = kXferError;
        x->actual = 0;
        return;
    }
    int bytes = x->length;
    if (c.shortBytes > 0 && c.shortBytes < bytes) bytes = c.shortBytes;
    bytes &= ~7;
    double rate = c.rate > 0 ? c.rate : 192000.0;
    double noise = std::pow(10.0, c.noiseDb / 20.0) * 2147483647.0;
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int k = 0; k < bytes / 8; k++) {
        double t = double(s->next + uint64_t(k)) / rate;
        double i = 0, q = 0;
        for (int j = 0; j < c.tones; j++) {
            double a = std::pow(10.0, c.toneDb[j] / 20.0) * 2147483647.0;
            double ph = 2 * M_PI * c.toneHz[j] * t;
            i += a * std::cos(ph);
            q += a * std::sin(ph);
        }
        if (c.noiseDb > -190) {
            i += noise * u(s->rng);
            q += noise * u(s->rng);
        }
        Put32(x->buffer + 8 * k, Clamp32(i));
        Put32(x->buffer + 8 * k + 4, Clamp32(q));
    }
    s->next += uint64_t(bytes / 8);
    x->status = kXferCompleted;
    x->actual = bytes;
}

} // namespace

struct UsbDev {
    bool sim = false;
    SimDevice simDev;
    libusb_context *ctx = nullptr;
    libusb_device **list = nullptr;
    int listCount = 0;
    libusb_device_handle *handle = nullptr;
    bool claimed = false;
};

void UsbSimReadConf(UsbSimConf *c) {
    *c = UsbSimConf{};
    std::string text;
    if (!ReadFileText("/sim/tav-usb.conf", &text)) return;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream l(line);
        std::string key;
        l >> key;
        if (key == "rate") {
            l >> c->rate;
        } else if (key == "tone" && c->tones < 4) {
            if (l >> c->toneHz[c->tones] >> c->toneDb[c->tones]) c->tones++;
        } else if (key == "noise") {
            l >> c->noiseDb;
        } else if (key == "fail") {
            l >> c->failFrom;
        } else if (key == "short") {
            l >> c->shortBytes;
        } else if (key == "cal") {
            l >> c->cal[0] >> c->cal[1] >> c->cal[2];
        }
    }
}

int UsbDevInit(UsbDev **out) {
    auto *d = new UsbDev;
    d->sim = Simulated();
    if (d->sim) {
        UsbSimReadConf(&d->simDev.conf);
        *out = d;
        return 0;
    }
    int r = libusb_init(&d->ctx);
    if (r != 0) {
        delete d;
        *out = nullptr;
        return r;
    }
    libusb_set_option(d->ctx, LIBUSB_OPTION_LOG_LEVEL, 3);
    *out = d;
    return 0;
}

int UsbDevList(UsbDev *d, UsbIdent *out, int max) {
    if (d->sim) {
        d->simDev.count = SimList(d->simDev.ids, 16);
        int n = d->simDev.count < max ? d->simDev.count : max;
        for (int i = 0; i < n; i++)
            out[i] = d->simDev.ids[i];
        return n;
    }
    UsbDevFreeList(d);
    int n = RealList(d->ctx, out, max, &d->list);
    d->listCount = n < 0 ? 0 : n;
    return n;
}

void UsbDevFreeList(UsbDev *d) {
    if (d->list != nullptr) libusb_free_device_list(d->list, 1);
    d->list = nullptr;
    d->listCount = 0;
}

int UsbDevOpen(UsbDev *d, int index) {
    if (d->sim) {
        if (index < 0 || index >= d->simDev.count) return LIBUSB_ERROR_NO_DEVICE;
        d->simDev.opened = index;
        return 0;
    }
    if (d->list == nullptr || index < 0 || index >= d->listCount) return LIBUSB_ERROR_NO_DEVICE;
    return libusb_open(d->list[index], &d->handle);
}

int UsbDevKernelDriverActive(UsbDev *d) {
    if (d->sim || d->handle == nullptr) return 0;
    return libusb_kernel_driver_active(d->handle, 0) == 1 ? 1 : 0;
}

int UsbDevDetachKernelDriver(UsbDev *d) {
    if (d->sim || d->handle == nullptr) return 0;
    return libusb_detach_kernel_driver(d->handle, 0);
}

int UsbDevClaim(UsbDev *d) {
    if (d->sim) return 0;
    int r = libusb_claim_interface(d->handle, 0);
    d->claimed = r == 0;
    return r;
}

int UsbDevControlIn(UsbDev *d, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                    uint16_t length, unsigned timeoutMs) {
    if (!d->sim)
        return libusb_control_transfer(d->handle, 0xC0, request, value, index, data, length,
                                       timeoutMs);
    // The simulated device answers the requests the reader makes.
    std::memset(data, 0, length);
    const UsbSimConf &c = d->simDev.conf;
    if (request == 0xFF && length >= 2) {
        data[0] = 1;
        data[1] = 4;
        return 2;
    }
    if (request == 0xA2 && index == 0x151) {
        if (value == 0x404C && length >= 2) {
            data[0] = 2;
            data[1] = 1;
            return 2;
        }
        if (value == 0x4000 && length >= 32) {
            // 32 characters and no terminator, as a full serial can be.
            std::memcpy(data, "SIM-TAV-0001-0123456789ABCDEFGHI", 32);
            return 32;
        }
        int k = value == 0x4028 ? 0 : value == 0x402C ? 1 : value == 0x4030 ? 2 : -1;
        if (k >= 0 && length >= 4) {
            std::memcpy(data, &c.cal[k], 4); // little-endian float
            return 4;
        }
        return LIBUSB_ERROR_PIPE;
    }
    if (request == 0xE1 && length >= 1) {
        data[0] = index == 0xE900 && value == 1 ? 0xE9 : 0;
        return 1;
    }
    return LIBUSB_ERROR_PIPE;
}

namespace {
void LIBUSB_CALL Finished(libusb_transfer *t) {
    auto *x = static_cast<UsbXfer *>(t->user_data);
    x->status = int(t->status);
    x->actual = t->actual_length;
    x->inFlight = false;
    x->cb(x);
}
} // namespace

UsbXfer *UsbXferAlloc(UsbDev *d) {
    auto *x = new UsbXfer;
    x->dev = d;
    if (!d->sim) {
        libusb_transfer *t = libusb_alloc_transfer(0);
        if (t == nullptr) {
            delete x;
            return nullptr;
        }
        x->native = t;
    }
    return x;
}

void UsbXferFree(UsbXfer *x) {
    if (x == nullptr) return;
    if (x->native != nullptr) libusb_free_transfer(static_cast<libusb_transfer *>(x->native));
    delete x;
}

int UsbXferSubmit(UsbXfer *x, uint8_t endpoint, uint8_t *buffer, int length, unsigned timeoutMs,
                  UsbXferCb cb, void *user) {
    x->buffer = buffer;
    x->length = length;
    x->cb = cb;
    x->user = user;
    UsbDev *d = x->dev;
    if (d->sim) {
        if (d->simDev.opened < 0) return LIBUSB_ERROR_NO_DEVICE;
        x->inFlight = true;
        d->simDev.queue.push_back(x);
        return 0;
    }
    auto *t = static_cast<libusb_transfer *>(x->native);
    libusb_fill_bulk_transfer(t, d->handle, endpoint, buffer, length, Finished, x, timeoutMs);
    x->inFlight = true;
    int r = libusb_submit_transfer(t);
    if (r != 0) x->inFlight = false;
    return r;
}

int UsbXferCancel(UsbXfer *x) {
    if (!x->inFlight) return LIBUSB_ERROR_NOT_FOUND;
    if (x->dev->sim) {
        x->status = kXferCancelled;
        x->serial = 1; // marks it for completion without data
        return 0;
    }
    return libusb_cancel_transfer(static_cast<libusb_transfer *>(x->native));
}

int UsbDevHandleEvents(UsbDev *d, int timeoutMs) {
    if (!d->sim) {
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        return libusb_handle_events_timeout_completed(d->ctx, &tv, nullptr);
    }
    SimDevice *s = &d->simDev;
    if (s->queue.empty()) {
        SleepMs(uint32_t(timeoutMs));
        return 0;
    }
    UsbXfer *x = s->queue.front();
    bool cancelled = x->serial == 1;
    if (!cancelled && s->conf.rate > 0) {
        // Paced like the receiver: one transfer per transfer period.
        uint64_t now = NowUs();
        if (s->dueUs == 0) s->dueUs = now;
        uint64_t periodUs = uint64_t(double(x->length / 8) * 1e6 / s->conf.rate);
        if (s->dueUs > now) {
            uint64_t wait = s->dueUs - now;
            if (wait > uint64_t(timeoutMs) * 1000u) {
                SleepUs(uint32_t(timeoutMs) * 1000u);
                return 0;
            }
            SleepUs(uint32_t(wait));
        }
        s->dueUs += periodUs;
    }
    s->queue.pop_front();
    if (cancelled) {
        x->actual = 0;
        x->serial = 0;
    } else {
        SimFill(s, x);
        s->done++;
    }
    x->inFlight = false;
    x->cb(x);
    return 0;
}

void UsbDevClose(UsbDev *d) {
    if (d == nullptr) return;
    if (!d->sim) {
        if (d->claimed) libusb_release_interface(d->handle, 0);
        if (d->handle != nullptr) libusb_close(d->handle);
        UsbDevFreeList(d);
        libusb_exit(d->ctx);
    }
    delete d;
}
