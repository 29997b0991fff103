#include "platform/panel_micro_sim.h"

#include "platform/files.h"
#include "platform/gpio_block.h"
#include "platform/panel_micro.h"
#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace {

constexpr int kData = 4;
constexpr int kClock = 6;
// Output pins whose levels the model mirrors into GPLEV0 (never the keys).
constexpr uint32_t kMirrored = (1u << 4) | (1u << 6) | (1u << 13) | (1u << 16);

bool IsOutput(GpioBlock *b, int pin) {
    uint32_t sel = GpioRead(b, kGPFSEL0 + 4 * static_cast<uint32_t>(pin / 10));
    return ((sel >> ((pin % 10) * 3)) & 7u) == 1u;
}

// Levels the pins show: the latch for outputs, the micro's drive for GPIO4 as
// an input, the pull-up (high) for other inputs.
void Mirror(GpioBlock *b, PanelMicroSim *m) {
    uint32_t levels = 0;
    for (int pin : {4, 6, 13, 16}) {
        uint32_t bit = 1u << pin;
        bool high;
        if (pin == kData && m->dataInput)
            high = m->drive;
        else if (IsOutput(b, pin))
            high = (m->latch & bit) != 0;
        else
            high = true;
        if (high) levels |= bit;
    }
    GpioAtomicSetBits(b, kGPLEV0, levels & kMirrored);
    GpioAtomicClearBits(b, kGPLEV0, ~levels & kMirrored);
}

void NoteCommand(uint8_t command) {
    // Files only inside a simulated root, never on a real one.
    if (RootPrefix().empty() || (command >= kTinyRail12V && command <= kTinyRailAmp)) return;
    char line[8];
    std::snprintf(line, sizeof line, "%02X\n", command);
    AppendFileFlushed("/panel-micro.log", line);
}

} // namespace

uint8_t PanelMicroSimAnswer(uint8_t command) {
    uint8_t version = kSimPanelVersion;
    uint8_t rails[3] = {kSimPanelRails[0], kSimPanelRails[1], kSimPanelRails[2]};
    std::string text;
    if (!RootPrefix().empty() && ReadFileText("/panel-micro.txt", &text)) {
        std::istringstream in(text);
        std::string key, value;
        while (in >> key >> value) {
            long v = std::strtol(value.c_str(), nullptr, 0);
            if (v < 0 || v > 255) continue;
            uint8_t byte = static_cast<uint8_t>(v);
            if (key == "version")
                version = byte;
            else if (key == "v12")
                rails[0] = byte;
            else if (key == "v15")
                rails[1] = byte;
            else if (key == "vamp")
                rails[2] = byte;
        }
    }
    if (command == kTinyVersion) return version;
    if (command >= kTinyRail12V && command <= kTinyRailAmp) return rails[command - kTinyRail12V];
    return command;
}

void PanelMicroSimAfterWrite(GpioBlock *b, uint32_t offset, uint32_t value) {
    auto *m = static_cast<PanelMicroSim *>(b->sim);
    if (m == nullptr) return;
    uint32_t before = m->latch;
    if (offset == kGPSET0) m->latch |= value;
    if (offset == kGPCLR0) m->latch &= ~value;
    if (offset == kGPFSEL0) {
        bool input = !IsOutput(b, kData);
        if (m->dataInput && !input) {
            // The master takes the line back: the exchange is over.
            m->answering = false;
            m->bits = 0;
            m->shift = 0;
            m->drive = true;
        }
        m->dataInput = input;
    }
    bool falling =
        (before & (1u << kClock)) != 0 && (m->latch & (1u << kClock)) == 0 && IsOutput(b, kClock);
    if (falling) {
        if (!m->dataInput) {
            if (m->answering) {
                // Clocked as a sender again without taking the answer: start over.
                m->answering = false;
                m->bits = 0;
                m->shift = 0;
            }
            m->shift = (m->shift << 1) | ((m->latch >> kData) & 1u);
            if (++m->bits == 8) {
                uint8_t command = static_cast<uint8_t>(m->shift);
                m->lastCommand = command;
                m->answer = static_cast<uint16_t>(0xA00 | PanelMicroSimAnswer(command));
                NoteCommand(command);
                m->answering = true;
                m->bits = 0;
                m->shift = 0;
            }
        } else if (m->dataInput && m->answering) {
            m->drive = ((m->answer >> (11 - m->bits)) & 1u) != 0;
            if (++m->bits == 12) {
                m->answering = false;
                m->bits = 0;
                m->exchanges++;
            }
        }
    }
    Mirror(b, m);
}

void PanelMicroSimAttach(GpioBlock *b) {
    PanelMicroSimDetach(b);
    b->sim = new PanelMicroSim();
    b->afterWrite = PanelMicroSimAfterWrite;
}

void PanelMicroSimDetach(GpioBlock *b) {
    delete static_cast<PanelMicroSim *>(b->sim);
    b->sim = nullptr;
    b->afterWrite = nullptr;
}
