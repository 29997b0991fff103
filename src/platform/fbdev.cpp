#include "platform/fbdev.h"

#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr off_t kVirtualBytes = off_t{kVirtualXres} * kVirtualYres * (kVirtualBpp / 8);

// The virtual screen: a plain file holding the pixels as the device would.
int OpenVirtual(FbDevice *dev, const std::string &path) {
    MakeParentDirs(path);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        LogErr("Unable to read framebuffer device: /dev/fb0\n");
        return -1;
    }
    struct stat st {};
    // A shorter file would fault on access past its end: grow it to full size.
    if (fstat(fd, &st) != 0 || (st.st_size < kVirtualBytes && ftruncate(fd, kVirtualBytes) != 0)) {
        LogErr("Unable to read screen info.\n");
        close(fd);
        return -1;
    }
    dev->fd = fd;
    dev->xres = kVirtualXres;
    dev->yres = kVirtualYres;
    dev->bitsPerPixel = kVirtualBpp;
    dev->isVirtual = true;
    return 0;
}

} // namespace

int FbDevOpen(FbDevice *dev) {
    // Only a simulated root may create its screen file; on the unit a missing
    // device is a fault, and a file there could stand in the way of the node.
    return FbDevOpenAt(dev, ResolvePath("/dev/fb0"), !RootPrefix().empty());
}

int FbDevOpenAt(FbDevice *dev, const std::string &path, bool mayCreateVirtual) {
    *dev = FbDevice{};
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (mayCreateVirtual) return OpenVirtual(dev, path);
        LogErr("Unable to read framebuffer device: /dev/fb0\n");
        return -1;
    }
    if (S_ISREG(st.st_mode)) return OpenVirtual(dev, path);

    // Hide the text console's cursor (only a real console has one).
    RunShell(ResolveCommand("/bin/echo") + " -e -n '\x1b[?25l' > " + ResolvePath("/dev/tty0"));

    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        LogErr("Unable to read framebuffer device: /dev/fb0\n");
        return -1;
    }
    fb_var_screeninfo var{};
    if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0) {
        LogErr("Unable to read screen info.\n");
        LogErr("Do you have read+write privilages to /dev/fb0?\n");
        close(fd);
        return -1;
    }
    var.xoffset = 0;
    var.yoffset = 0;
    if (ioctl(fd, FBIOPUT_VSCREENINFO, &var) != 0) {
        LogErr("Unable to change screen data\n");
        LogErr("Do you have write privilages to /dev/fb0?\n");
        LogErr("Does your video card support double buffering?\n");
        close(fd);
        return -1;
    }
    dev->fd = fd;
    dev->xres = var.xres & 0xFFFF;
    dev->yres = var.yres & 0xFFFF;
    dev->bitsPerPixel = var.bits_per_pixel;
    return 0;
}

uint8_t *FbDevMap(FbDevice *dev, uint32_t size) {
    void *mem = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, dev->fd, 0);
    if (mem == MAP_FAILED) {
        LogErr("Unable to map shared memory\n");
        LogErr("Make sure, that you have compiled shared memory support into your kernel.\n");
        FbDevClose(dev);
        return nullptr;
    }
    return static_cast<uint8_t *>(mem);
}

void FbDevClose(FbDevice *dev) {
    if (dev->fd >= 0) close(dev->fd);
    dev->fd = -1;
}
