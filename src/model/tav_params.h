// The TAV parameter record and the remote spectrum buffer: decoded from the
// transceiver's frames (its serial link, or a remote peer's), read by the
// supervisor. Every access holds serMut.
#pragma once
#include <cstdint>

struct Works;
struct TavParams;

// Decodes a parameter payload into the record under serMut (also used by the
// remote client). A payload shorter than the fields read counts as zeros.
void storeParameters(Works *works, int length, const uint8_t *payload);
// Copies the TAV parameter record under serMut.
void getParameters(TavParams *copy, Works *works);
// Bytes 85..938 of a remote spectrum as levels (byte - 192) into the second
// spectrum buffer; entries beyond a short frame keep their previous values.
void storeFFT(Works *works, int count, const uint8_t *bytes);
