// Random bytes from the system's random source.
#pragma once
#include <cstddef>
#include <cstdint>

// Reads `count` bytes from /dev/urandom. Returns the bytes read, or -1 when the
// source cannot be opened (errno kept).
int ReadRandom(uint8_t *out, size_t count);
