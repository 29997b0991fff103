// GPIO panel thread: the six front-panel keys (debounce, short and long
// presses, auto-repeat), the control outputs and the two-wire link to the
// panel micro. The thread body is a thin loop around GpioStep, which tests
// drive pass by pass with their own clock and register block.
#pragma once
#include <cstdint>

#include "ui/keys.h"
#include "platform/panel_micro.h"

struct Works;
struct GpioBlock;

constexpr int kGpioKeys = 6;
constexpr int kPinTinyData = 4;  // panel-micro link, data
constexpr int kPinTinyClock = 6; // panel-micro link, clock
constexpr int kPinFwLoader = 13; // low while the power board's firmware loader runs
constexpr int kPinAlive = 16;    // driven high on every pass
constexpr int kPinKey1 = 22;     // keys 1-6 on GPIO22-GPIO27, 0 = pressed
constexpr uint32_t kKeyBits = 0x0FC00000u;

constexpr int32_t kTinyPassesBetween = 200; // passes between two exchanges
constexpr uint32_t kTinyStepUs = 200;       // the link's unit wait
constexpr int kDebounceLimit = 4;      // counter above this: the next disagreeing sample is taken
constexpr uint32_t kGpioPassUs = 2000; // sleep at the end of each pass

// Repeat cadence of a held key whose action repeats (seconds).
constexpr double kRepeatFirst = 0.1; // the next 14 steps
constexpr int kRepeatFirstCount = 14;
constexpr double kRepeatFast = 0.02; // after those
constexpr double kLeadTime = 0.15;   // "Entering second function..." before a long press

// What the thread keeps between passes.
struct GpioPanel {
    // Output shadows: the words last written to GPSET0 and GPCLR0.
    uint32_t setWord = 0;
    uint32_t clrWord = 0;
    // Per key: accepted level, previous accepted level (-1 none yet), debounce counter.
    int level[kGpioKeys] = {1, 1, 1, 1, 1, 1};
    int prevLevel[kGpioKeys] = {-1, -1, -1, -1, -1, -1};
    int debounce[kGpioKeys] = {};
    // Press state shared by the keys (bit k-1 for key k).
    uint32_t timing = 0;   // key being timed
    uint32_t fired = 0;    // long press delivered, no repeat pending
    uint32_t longDone = 0; // a long press was delivered during this hold
    int repeats = 0;
    uint64_t t0 = 0; // ms, when timing (or the last repeat) started
    // The key dispatcher; tests put a recorder here.
    int (*decode)(Works *works, int key, int longMask) = DecodeTasto;
};

// Start-up: outputs and inputs, GPIO13 high, the keys' pull-ups.
void GpioStart(GpioBlock *regs, GpioPanel *panel);
// Drives one output pin through the shadows (both words written whole).
void GpioDrive(GpioBlock *regs, GpioPanel *panel, int pin, bool high);
// One exchange with the panel micro: sends `command`, returns the 12 bits
// clocked back (most significant first). About 10 ms of waits on the unit.
uint16_t TinyExchange(GpioBlock *regs, GpioPanel *panel, uint8_t command);
// One loop pass at monotonic time `now` (ms), without the closing sleep.
void GpioStep(GpioBlock *regs, GpioPanel *panel, Works *works, uint64_t now);

void *GPIO(void *arg);
