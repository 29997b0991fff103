// The simulated panel micro: a model inside the process that watches the
// clock (GPIO6) and data (GPIO4) lines of the two-wire link on a simulated
// GPIO block and drives GPIO4's level while it answers. It also mirrors the
// output pins the program drives (GPIO4, GPIO6, GPIO13, GPIO16) into GPLEV0,
// as the hardware does; it never touches the key bits 22-27.
//
// Link as the model sees it: eight command bits, most significant first, each
// taken at a falling clock edge while GPIO4 is an output; then, with GPIO4 an
// input, twelve answer bits, each put on the line at a falling clock edge. The
// answer is the marker nibble 1010 followed by the byte: the firmware version
// for 0xB0, the 12 V, 15 V and amplifier-supply ADC readings for 0xD1, 0xD2,
// 0xD3, and the command byte itself (an acknowledgement) for any other code.
//
// Settings: the unit path "/panel-micro.txt" (inside the simulated root), read
// at every answer so it can be changed while the unit runs. Lines "version N",
// "v12 N", "v15 N", "vamp N" (decimal or 0x hex, 0-255); missing lines keep the
// defaults (version 0x12; 141, 177, 160: about 12 V, 15 V and 13.5 V). Every
// command other than the rail polls is appended to "/panel-micro.log" as two
// hex digits and a line feed.
#pragma once
#include <cstdint>

struct GpioBlock;

constexpr uint8_t kSimPanelVersion = 0x12;
constexpr uint8_t kSimPanelRails[3] = {141, 177, 160};

struct PanelMicroSim {
    uint32_t latch = 0;      // output latch written through GPSET0/GPCLR0
    bool dataInput = false;  // GPIO4 is an input (the micro may drive it)
    bool answering = false;  // between the eighth command bit and the twelfth answer bit
    int bits = 0;            // command bits taken, or answer bits given
    uint32_t shift = 0;      // command bits so far
    uint16_t answer = 0;     // the twelve bits being given
    bool drive = true;       // GPIO4's level while it is an input
    int exchanges = 0;       // commands answered
    uint8_t lastCommand = 0; // last command received
};

// Attaches a fresh model to `block` (its afterWrite hook).
void PanelMicroSimAttach(GpioBlock *block);
void PanelMicroSimDetach(GpioBlock *block);
// The hook itself, for a test that builds its own block.
void PanelMicroSimAfterWrite(GpioBlock *block, uint32_t offset, uint32_t value);
// The answer byte for `command` under the current settings.
uint8_t PanelMicroSimAnswer(uint8_t command);
