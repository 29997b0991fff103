// Screen images that a remote peer sends as JPEG.
#pragma once
#include <cstdint>

struct Works;

// Decodes `length` bytes of JPEG into the screen's work buffer: exactly
// memSize bytes of red, green, blue, 255 pixels when the image has the
// screen's size and the screen has 4 bytes per pixel. Anything else (an image
// that does not decode, another size, another pixel size) is dropped with a
// log line and the work buffer is left as it was. 0 when the image landed.
int Uncompress(Works *works, const uint8_t *data, int length);
