#include "ui/gpio.h"

#include "model/heartbeat.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/gpio_block.h"
#include "platform/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void SetFunction(GpioBlock *regs, int pin, bool output) {
    uint32_t offset = kGPFSEL0 + 4 * static_cast<uint32_t>(pin / 10);
    uint32_t shift = static_cast<uint32_t>(pin % 10) * 3;
    uint32_t sel = GpioRead(regs, offset) & ~(7u << shift);
    if (output) sel |= 1u << shift;
    GpioWrite(regs, offset, sel);
}

void Shadow(GpioPanel *p, int pin, bool high) {
    uint32_t bit = 1u << pin;
    if (high) {
        p->setWord |= bit;
        p->clrWord &= ~bit;
    } else {
        p->setWord &= ~bit;
        p->clrWord |= bit;
    }
}

void WriteShadows(GpioBlock *regs, GpioPanel *p) {
    GpioWrite(regs, kGPSET0, p->setWord);
    GpioWrite(regs, kGPCLR0, p->clrWord);
}

// Takes the mailbox or the next rail poll when the link is idle; one exchange
// every kTinyPassesBetween + 1 passes.
void ScheduleTiny(Works *w) {
    if (w->tinyCmdOut.load() != kTinyIdle) return;
    int32_t timer = w->tinyTimer.load();
    if (timer != 0) {
        w->tinyTimer = timer - 1;
        return;
    }
    w->tinyTimer = kTinyPassesBetween;
    uint8_t posted = w->tinyCmd.exchange(0);
    if (posted != 0) {
        Trace("CMD TINY %0x\n", posted);
        w->tinyCmdOut = posted;
        return;
    }
    uint8_t poll = w->tinyPoll.load();
    if (poll <= 2) {
        w->tinyCmdOut = static_cast<uint8_t>(kTinyRail12V + poll);
        w->tinyPoll = static_cast<uint8_t>(poll + 1);
    } else {
        w->tinyPoll = 0; // the pause after D3
    }
}

void RunTiny(GpioBlock *regs, GpioPanel *p, Works *w) {
    uint8_t command = w->tinyCmdOut.load();
    if (command == kTinyIdle) return;
    uint16_t value = TinyExchange(regs, p, command);
    uint8_t byte = static_cast<uint8_t>(value & 0xFF);
    w->tinyData[command & 3] = byte;
    if (command == kTinyVersion) LogInfo("panel micro version %x", byte);
    w->tinyCmdOut = kTinyIdle;
}

// Accepts a key's new level on the sixth sample that disagrees with the
// accepted one since its last change, and only while no other key is held.
// The counter is not reset by agreeing samples.
void Debounce(GpioPanel *p, uint32_t lev) {
    for (int k = 0; k < kGpioKeys; k++) {
        int sample = static_cast<int>((lev >> (kPinKey1 + k)) & 1u);
        if (sample == p->level[k]) continue;
        if (p->debounce[k] <= kDebounceLimit) {
            p->debounce[k]++;
            continue;
        }
        bool othersReleased = true;
        for (int o = 0; o < kGpioKeys; o++)
            if (o != k && p->level[o] != 1) othersReleased = false;
        if (othersReleased) {
            p->level[k] = sample;
            p->debounce[k] = 0;
        }
    }
}

void PressTiming(GpioPanel *p, Works *w, uint64_t now) {
    for (int k = 1; k <= kGpioKeys; k++) {
        uint32_t b = 1u << (k - 1);
        int level = p->level[k - 1];
        if (p->timing == 0 && level == 0) {
            p->t0 = now;
            p->timing |= b;
        }
        if ((p->timing & b) != 0 && level == 0 && (p->fired & b) == 0) {
            double elapsed = static_cast<double>(now - p->t0) / 1000.0;
            double threshold = p->repeats <= 0                   ? TIME_LONG_PRESS.load()
                               : p->repeats <= kRepeatFirstCount ? kRepeatFirst
                                                                 : kRepeatFast;
            double d = elapsed - threshold;
            if (d > -kLeadTime) w->keyFlags.fetch_or(1);
            if (d > 0) {
                p->fired |= b;
                p->longDone |= b;
                if (p->decode(w, k, static_cast<int>(p->fired)) != 0) {
                    p->fired &= ~b;
                    p->repeats++;
                    p->t0 = now;
                }
            }
        }
        if (level != p->prevLevel[k - 1]) {
            // A release acts as a short press only when no long press (nor a
            // repeat) was delivered during the hold.
            if (level == 1 && (p->longDone & b) == 0 && p->prevLevel[k - 1] != -1)
                p->decode(w, k, 0);
            p->prevLevel[k - 1] = level;
            if (level == 1) {
                p->timing &= ~b;
                p->fired &= ~b;
                p->longDone &= ~b;
                p->repeats = 0;
            }
        }
    }
}

} // namespace

void GpioDrive(GpioBlock *regs, GpioPanel *p, int pin, bool high) {
    Shadow(p, pin, high);
    WriteShadows(regs, p);
}

void GpioStart(GpioBlock *regs, GpioPanel *p) {
    SetFunction(regs, kPinTinyData, true);
    SetFunction(regs, kPinTinyClock, true);
    SetFunction(regs, kPinAlive, true);
    GpioDrive(regs, p, kPinFwLoader, true);
    SetFunction(regs, kPinFwLoader, true);
    for (int k = 0; k < kGpioKeys; k++)
        SetFunction(regs, kPinKey1 + k, false);
    // Pull-ups on the keys; the controller wants a short set-up and hold time
    // (150 of its cycles) around the clock write.
    GpioWrite(regs, kGPPUD, 2);
    GpioWait(regs, 5);
    GpioWrite(regs, kGPPUDCLK0, kKeyBits);
    GpioWait(regs, 5);
    GpioWrite(regs, kGPPUD, 0);
    GpioWrite(regs, kGPPUDCLK0, 0);
}

uint16_t TinyExchange(GpioBlock *regs, GpioPanel *p, uint8_t command) {
    for (int i = 7; i >= 0; i--) {
        GpioDrive(regs, p, kPinTinyClock, true);
        GpioWait(regs, kTinyStepUs);
        GpioDrive(regs, p, kPinTinyData, ((command >> i) & 1) != 0);
        GpioWait(regs, kTinyStepUs);
        GpioDrive(regs, p, kPinTinyClock, false);
        GpioWait(regs, kTinyStepUs);
    }
    SetFunction(regs, kPinTinyData, false);
    Shadow(p, kPinTinyData, true);
    Shadow(p, kPinTinyClock, true);
    WriteShadows(regs, p);
    GpioWait(regs, 3 * kTinyStepUs);
    uint16_t value = 0;
    for (int i = 0; i < 12; i++) {
        GpioDrive(regs, p, kPinTinyClock, false);
        GpioWait(regs, kTinyStepUs);
        value =
            static_cast<uint16_t>((value << 1) | ((GpioRead(regs, kGPLEV0) >> kPinTinyData) & 1u));
        GpioDrive(regs, p, kPinTinyClock, true);
        GpioWait(regs, kTinyStepUs);
    }
    SetFunction(regs, kPinTinyData, true);
    Shadow(p, kPinTinyData, true);
    Shadow(p, kPinTinyClock, true);
    WriteShadows(regs, p);
    return value;
}

void GpioStep(GpioBlock *regs, GpioPanel *p, Works *w, uint64_t now) {
    Shadow(p, kPinAlive, true);
    Shadow(p, kPinFwLoader, (w->linkFlags.load() & 1) == 0);
    WriteShadows(regs, p);
    ScheduleTiny(w);
    RunTiny(regs, p, w);
    Debounce(p, GpioRead(regs, kGPLEV0));
    PressTiming(p, w, now);
}

void *GPIO(void *arg) {
    Works *w = static_cast<Works *>(arg);
    LogInfo("GPIO operations start");
    GpioBlock regs;
    int status = GpioOpen(&regs);
    if (status != 0) {
        // Without the panel the unit cannot be worked: end the whole process,
        // saying why where the person who started it looks.
        std::fprintf(stderr, "helix: the GPIO block cannot be mapped from /dev/mem: %s\n",
                     std::strerror(errno));
        std::fflush(nullptr);
        _exit(status);
    }
    GpioPanel panel;
    GpioStart(&regs, &panel);
    LogInfo("GPIO loop start");
    Trace("t1 %d %d, t2 %d %d, t3 %d %d, t4 %d %d, t5 %d %d, t6 %d %d\n", panel.level[0],
          panel.prevLevel[0], panel.level[1], panel.prevLevel[1], panel.level[2],
          panel.prevLevel[2], panel.level[3], panel.prevLevel[3], panel.level[4],
          panel.prevLevel[4], panel.level[5], panel.prevLevel[5]);
    BeatBegin(w, kBeatKeys);
    while (w->running.load() != 0) {
        Beat(w, kBeatKeys);
        GpioStep(&regs, &panel, w, NowMs());
        SleepUs(kGpioPassUs);
    }
    BeatEnd(w, kBeatKeys);
    GpioClose(&regs);
    LogInfo("GPIO operations end");
    return nullptr;
}
