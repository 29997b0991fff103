#include "platform/serial_tav.h"

#include "platform/serial.h"

#include <cstring>
#include <termios.h>

int TavSerialSetup(int fd) {
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_iflag = IGNPAR;
    tio.c_cflag = CS8 | CREAD | CLOCAL;
    tio.c_lflag = 0;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    return SerialApply(fd, tio) == 0 ? 0 : -1;
}
