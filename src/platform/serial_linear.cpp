#include "platform/serial_linear.h"

#include "platform/serial.h"

#include <cstring>
#include <termios.h>

int SerialSetupLinear(int fd) {
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_iflag = IGNPAR;
    tio.c_cflag = B115200 | CS8 | CREAD | HUPCL | CLOCAL;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 5;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    return SerialApply(fd, tio);
}
