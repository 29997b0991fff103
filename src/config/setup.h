// The setup record: a 291-byte image of switch characters and fixed text
// slots mirroring /opt/set/setup.txt, and its reader and writer.
#pragma once
#include "model/records.h"

#include <atomic>
#include <cstddef>

struct Works;

// Copies `value` into a text slot of `width` bytes, cut at width - 1.
void SetSlot(char *slot, size_t width, const char *value);
#define SET_SLOT(field, value) SetSlot((field), sizeof(field), (value))

void initSetup(Works *works);
void readSetup(Works *works);
void writeSetup(Works *works);
// Builds the text writeSetup writes (after copying the live values into the slots).
void FormatSetupFile(Works *works, char *out, size_t cap, size_t *len);
// Factory defaults: deletes the bank files, then initSetup, writeSetup, readSetup.
void RestoreFactorySetup(Works *works);
