// The GPIO controller's register block (BCM2836/BCM2837). On the unit it is
// "/dev/mem" mapped at the controller's physical address; when the resolved
// "/dev/mem" is a plain file (a simulated root) the block is the first 4096
// bytes of that file, mapped shared so another process can press keys, and a
// simulated panel micro answers on the two-wire link.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t kGpioPhysBase = 0x3F200000;
constexpr size_t kGpioBlockSize = 4096;

// Register offsets (bytes) inside the block.
constexpr uint32_t kGPFSEL0 = 0x00;   // function select, pins 0-9 (3 bits each)
constexpr uint32_t kGPFSEL1 = 0x04;   // pins 10-19
constexpr uint32_t kGPFSEL2 = 0x08;   // pins 20-29
constexpr uint32_t kGPSET0 = 0x1C;    // output set
constexpr uint32_t kGPCLR0 = 0x28;    // output clear
constexpr uint32_t kGPLEV0 = 0x34;    // pin levels
constexpr uint32_t kGPPUD = 0x94;     // pull-up/down control
constexpr uint32_t kGPPUDCLK0 = 0x98; // pull-up/down clock

struct GpioBlock {
    volatile uint32_t *regs = nullptr; // kGpioBlockSize bytes
    // Called after every register write; the simulated panel micro watches the
    // link here. Null on the unit and for a bare in-memory block.
    void (*afterWrite)(GpioBlock *block, uint32_t offset, uint32_t value) = nullptr;
    void *sim = nullptr; // the simulated panel micro, when there is one
    // The link's waits; null means a real sleep. Tests put a no-op here.
    void (*wait)(uint32_t us) = nullptr;
    bool mapped = false; // regs is a mapping to remove on close
};

uint32_t GpioRead(GpioBlock *block, uint32_t offset);
void GpioWrite(GpioBlock *block, uint32_t offset, uint32_t value);
void GpioWait(GpioBlock *block, uint32_t us);

// Maps the block (logging failures). Returns 0, or the exit status the process
// must end with: 8 when "/dev/mem" cannot be opened, -1 when it cannot be mapped.
int GpioOpen(GpioBlock *block);
// Removes the mapping and the simulated panel micro.
void GpioClose(GpioBlock *block);

// Atomic changes of single bits of a shared register word, safe against
// another process changing other bits of the same word (the simulated keys).
void GpioAtomicSetBits(GpioBlock *block, uint32_t offset, uint32_t bits);
void GpioAtomicClearBits(GpioBlock *block, uint32_t offset, uint32_t bits);
