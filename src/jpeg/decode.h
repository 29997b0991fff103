// The decoder proper, over a whole compressed image held in memory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace jpgd {

// Largest frame side accepted, and the bound on width x height x components.
constexpr int kMaxSide = 16384;
constexpr uint64_t kMaxSamples = uint64_t{16384} * 16384 * 4;
// No limit below the largest frame.
constexpr uint64_t kAnyPixels = uint64_t{kMaxSide} * kMaxSide;

// Decodes `size` bytes at `data` into a malloc'ed block of
// width x height x req_comps bytes; null on any failure (outputs untouched).
// A frame of more than `maxPixels` pixels fails before anything is allocated.
uint8_t *DecodeImage(const uint8_t *data, size_t size, int req_comps, int *width, int *height,
                     int *actual_comps, uint64_t maxPixels = kAnyPixels);

// The size and component count of the frame, from the markers before the
// first frame header and the header itself; nothing is decoded or allocated.
// False when no frame header this decoder takes comes before the first scan.
bool ReadFrameSize(const uint8_t *data, size_t size, int *width, int *height, int *comps);

} // namespace jpgd
