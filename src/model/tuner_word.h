// The tuner's 32-bit relay word: 9-bit capacitor and inductor steps spread
// over fixed bits, and the network-mode bits. These are the only packers and
// decoders of the word; changes are made under the tuner-word lock.
#pragma once
#include <cstdint>

struct Works;

// Mode text of the debug line ("CL", "LC" or "BP").
extern char ModeTuneDebug[4];

constexpr uint32_t kTunerModeCL = 1u << 23;
constexpr uint32_t kTunerModeLC = 1u << 18;
constexpr uint32_t kTunerModeThrough = 1u << 16;

void SetC(Works *works, int c);
void SetI(Works *works, int l);
void SetMode(Works *works, int mode);
void ReadTnePar(Works *works);
int DecodeCapacitaFromTuneval(uint32_t word);
int DecodeInduttanzaFromTuneval(uint32_t word);
int DecodeModoFromTuneval(uint32_t word);

// Tuner-word lock: take waits until the flag is free and sets it; stop frees it.
void WaitSemaforoTuneval(Works *works);
void StopSemaforoTuneval(Works *works);
