// USB access: the bus's device list (presence checks) and the transceiver's
// sample-stream device (control reads, asynchronous bulk transfers).
//
// Two backends behind the same calls. On the unit: libusb-1.0. In a
// simulated root (HELIX_ROOT set) the bus is the text file <root>/lsusb.txt
// (every line holding "ID vvvv:pppp" is one device, as lsusb prints it) and
// the sample device is a generator of I/Q transfers configured by
// <root>/sim/tav-usb.conf (see UsbSimConf).
#pragma once
#include <cstdint>

struct UsbIdent {
    uint16_t vendor = 0, product = 0;
    int descErr = 0; // non-zero: the descriptor could not be read
};

// Devices on the bus, at most `max`; a negative libusb error when the bus
// cannot be listed.
int UsbListDevices(UsbIdent *out, int max);
// Number of vendor:product devices attached. The bus is looked at at most
// once a second per pair; calls in between return the last count.
int UsbCountDevices(uint16_t vendor, uint16_t product, uint64_t now);

// --- the sample device ---

// Transfer states, numbered as libusb numbers them.
enum UsbXferStatus {
    kXferCompleted = 0,
    kXferError = 1,
    kXferTimedOut = 2,
    kXferCancelled = 3,
    kXferStall = 4,
    kXferNoDevice = 5,
    kXferOverflow = 6,
};

struct UsbDev;
struct UsbXfer;
using UsbXferCb = void (*)(UsbXfer *);

// One bulk IN transfer. The callback runs inside UsbDevHandleEvents on the
// thread that calls it; `inFlight` is false again when it runs.
struct UsbXfer {
    UsbDev *dev = nullptr;
    int status = 0;
    int actual = 0; // bytes received
    uint8_t *buffer = nullptr;
    int length = 0;
    void *user = nullptr;
    UsbXferCb cb = nullptr;
    bool inFlight = false;
    void *native = nullptr; // libusb_transfer of the real backend
    uint64_t serial = 0;    // simulated backend: submission order
};

// What the simulated sample device does. The file holds "key value..." lines:
//   rate HZ            sample rate pacing the transfers (0: as fast as asked)
//   tone HZ DBFS       a complex tone (up to 4 lines)
//   noise DBFS         uniform noise on I and Q
//   fail N             transfers from the N-th on fail (status error)
//   short BYTES        every transfer returns only BYTES bytes
//   cal G L A          calibration offsets in dB
struct UsbSimConf {
    double rate = 192000.0;
    int tones = 0;
    double toneHz[4] = {};
    double toneDb[4] = {};
    double noiseDb = -200.0;
    long failFrom = -1;
    int shortBytes = 0;
    float cal[3] = {0.5f, 1.5f, 10.0f};
};
// Reads <root>/sim/tav-usb.conf into `conf` (defaults for what it lacks).
void UsbSimReadConf(UsbSimConf *conf);

// libusb_init and log level 3; 0 or the libusb error.
int UsbDevInit(UsbDev **dev);
// The device list of this context (kept until UsbDevFreeList or close).
int UsbDevList(UsbDev *dev, UsbIdent *out, int max);
void UsbDevFreeList(UsbDev *dev);
// Opens entry `index` of the list; 0 or a libusb error.
int UsbDevOpen(UsbDev *dev, int index);
// 1 when a kernel driver holds interface 0.
int UsbDevKernelDriverActive(UsbDev *dev);
int UsbDevDetachKernelDriver(UsbDev *dev);
int UsbDevClaim(UsbDev *dev);
// Vendor control read (request type 0xC0): bytes read or a libusb error.
int UsbDevControlIn(UsbDev *dev, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                    uint16_t length, unsigned timeoutMs);
UsbXfer *UsbXferAlloc(UsbDev *dev);
void UsbXferFree(UsbXfer *x);
// Submits a bulk IN transfer on `endpoint`; 0 or a libusb error.
int UsbXferSubmit(UsbXfer *x, uint8_t endpoint, uint8_t *buffer, int length, unsigned timeoutMs,
                  UsbXferCb cb, void *user);
int UsbXferCancel(UsbXfer *x);
// Runs finished transfers' callbacks; waits at most `timeoutMs` for one.
int UsbDevHandleEvents(UsbDev *dev, int timeoutMs);
// Releases the interface, closes the device, frees the list and the context.
void UsbDevClose(UsbDev *dev);
