#include "platform/gpio_block.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/panel_micro_sim.h"
#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static uint32_t *Word(GpioBlock *b, uint32_t offset) {
    return const_cast<uint32_t *>(b->regs + offset / 4);
}

uint32_t GpioRead(GpioBlock *b, uint32_t offset) {
    return __atomic_load_n(Word(b, offset), __ATOMIC_SEQ_CST);
}

void GpioWrite(GpioBlock *b, uint32_t offset, uint32_t value) {
    __atomic_store_n(Word(b, offset), value, __ATOMIC_SEQ_CST);
    if (b->afterWrite != nullptr) b->afterWrite(b, offset, value);
}

void GpioWait(GpioBlock *b, uint32_t us) {
    if (b->wait != nullptr)
        b->wait(us);
    else
        SleepUs(us);
}

void GpioAtomicSetBits(GpioBlock *b, uint32_t offset, uint32_t bits) {
    __atomic_fetch_or(Word(b, offset), bits, __ATOMIC_SEQ_CST);
}

void GpioAtomicClearBits(GpioBlock *b, uint32_t offset, uint32_t bits) {
    __atomic_fetch_and(Word(b, offset), ~bits, __ATOMIC_SEQ_CST);
}

int GpioOpen(GpioBlock *b) {
    std::string path = ResolvePath("/dev/mem");
    struct stat st {};
    bool plain = stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    int fd = open(path.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        LogErr("can't open /dev/mem");
        errno = err;
        return 8;
    }
    off_t at = kGpioPhysBase;
    if (plain) {
        // A simulated block: the file's first page, grown to a page if shorter.
        at = 0;
        if (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(kGpioBlockSize) &&
            ftruncate(fd, kGpioBlockSize) != 0) {
            LogErr("mmap error %d", errno);
            close(fd);
            return -1;
        }
    }
    void *map = mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, at);
    int err = errno;
    close(fd);
    if (map == MAP_FAILED) {
        LogErr("mmap error %d", err);
        errno = err;
        return -1;
    }
    b->regs = static_cast<volatile uint32_t *>(map);
    b->mapped = true;
    if (plain) PanelMicroSimAttach(b);
    return 0;
}

void GpioClose(GpioBlock *b) {
    PanelMicroSimDetach(b);
    if (b->mapped && b->regs != nullptr) munmap(const_cast<uint32_t *>(b->regs), kGpioBlockSize);
    b->regs = nullptr;
    b->mapped = false;
}
