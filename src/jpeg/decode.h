// The decoder proper, over a whole compressed image held in memory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace jpgd {

// Largest frame side accepted, and the bound on width x height x components.
constexpr int kMaxSide = 16384;
constexpr uint64_t kMaxSamples = uint64_t{16384} * 16384 * 4;

// Decodes `size` bytes at `data` into a malloc'ed block of
// width x height x req_comps bytes; null on any failure (outputs untouched).
uint8_t *DecodeImage(const uint8_t *data, size_t size, int req_comps, int *width, int *height,
                     int *actual_comps);

} // namespace jpgd
