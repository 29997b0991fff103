// Replies of the power board: what each one updates, and the status algorithm
// that also drives fan, alarms, tune and the choice of the next command.
#pragma once

struct Works;

// Hex digit value, -1 for anything else.
int charToInt(char c);
// Decodes one reply (`text` starts after the CRC digits). Returns the pause
// in ms before the next pass, or -1 when the reply was too short to decode
// (the link keeps waiting for the real one).
int DecodeCatCmd(Works *works, const char *text, int length);
// Coefficient K0..K3 (`type`) of the band that holds works->freq.
float SearchK(Works *works, int type);
// SWR from forward and reflected watts (0 = no transmission, 100 = unusable).
float CalcSwr(float fwd, float refl);
