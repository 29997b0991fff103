// Framebuffer device access: /dev/fb0 through the path resolver, or a virtual
// 800x480x32 screen in a plain file (an existing one, or a new one in a
// simulated root).
#pragma once
#include <cstdint>
#include <string>

struct FbDevice {
    int fd = -1;
    uint32_t xres = 0;
    uint32_t yres = 0;
    uint32_t bitsPerPixel = 0;
    bool isVirtual = false;
};

// Width, height and depth of the virtual screen.
constexpr uint32_t kVirtualXres = 800;
constexpr uint32_t kVirtualYres = 480;
constexpr uint32_t kVirtualBpp = 32;

// Opens the device, reads its screen information and resets the pan offsets
// (or opens/creates the virtual screen file). 0 on success; failures are logged
// and leave the device closed.
int FbDevOpen(FbDevice *dev);
// The same for the device at `path`: a plain file there is a virtual screen; a
// missing one becomes a new virtual screen only when `mayCreateVirtual`
// (a simulated root), else it is the device error.
int FbDevOpenAt(FbDevice *dev, const std::string &path, bool mayCreateVirtual);
// Maps `size` bytes of the opened device shared for reading and writing; null
// on failure (logged, device closed).
uint8_t *FbDevMap(FbDevice *dev, uint32_t size);
void FbDevClose(FbDevice *dev);
