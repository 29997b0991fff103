// Station settings that follow the frequency: the antenna-table row of the
// current bank (antenna, amplifier, attenuator, tuner) and the stored tune;
// and the status text sent to a connected peer.
#pragma once
#include <cstdint>

struct Works;

constexpr int kStatusTextLen = 44;

void GestioneAntennaAutomatica(Works *works);
// The first antenna-table row of the current bank holding `freq`, or -1.
int AntennaRowOf(Works *works, int32_t freq);
void GestioneLoadTuneVal(Works *works, int clearIfNone);
// Fills `text` (at least kStatusTextLen + 1 bytes) with the status text.
void CreaBufferDiStato(Works *works, char *text);
