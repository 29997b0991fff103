// The setup record: a 291-byte image of switch characters and fixed text
// slots mirroring /opt/set/setup.txt, and its reader and writer.
#pragma once
#include "model/records.h"

#include <atomic>
#include <cstddef>
#include <string>

struct Works;

// Copies `value` into a text slot of `width` bytes, cut at width - 1.
void SetSlot(char *slot, size_t width, const char *value);
#define SET_SLOT(field, value) SetSlot((field), sizeof(field), (value))

// The spectrum divide (setup key `Divide`, remote command "VORNFD"): every
// n-th USB transfer is transformed. A peer's value is cut to 1..kDivideMax;
// the setup file holds 0 (its default, every transfer) or 1..kDivideMax.
constexpr int kDivideMax = 100;

void initSetup(Works *works);
void readSetup(Works *works);
void writeSetup(Works *works);
// Builds the text writeSetup writes (after copying the live values into the slots).
void FormatSetupFile(Works *works, char *out, size_t cap, size_t *len);
// Factory defaults: deletes the bank files, then initSetup, writeSetup, readSetup.
void RestoreFactorySetup(Works *works);
// 0 when the reader takes every setting line of a setup file's `text` (and
// there is at least one), else -1 and why.
int CheckSetupText(const std::string &text, std::string *why);
