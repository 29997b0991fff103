// Screen images that a remote peer sends as JPEG.
#pragma once
#include <cstdint>

struct Works;

// Decodes `length` bytes of JPEG into the screen's background and work
// buffers (the background until the next picture load): exactly memSize bytes
// of red, green, blue, 255 pixels when the image has the screen's size and the
// screen has 4 bytes per pixel. The size is read from the frame header before
// anything is decoded; anything else (an image that does not decode, another
// size, another pixel size) is dropped with a log line and the buffers are
// left as they were. 0 when the image landed.
int Uncompress(Works *works, const uint8_t *data, int length);
