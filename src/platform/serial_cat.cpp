#include "platform/serial_cat.h"

#include "platform/paths.h"
#include "platform/serial.h"

#include <cstring>
#include <glob.h>
#include <termios.h>

int CatSerialSetup(int fd) {
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_iflag = IGNPAR;
    tio.c_cflag = CS8 | CREAD | CLOCAL | CSTOPB;
    tio.c_lflag = 0;
    tio.c_cc[VMIN] = 1;
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    return SerialApply(fd, tio) == 0 ? 0 : -1;
}

int CatProbeSetup(int fd) {
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_iflag = IGNPAR;
    tio.c_cflag = CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    return SerialApply(fd, tio) == 0 ? 0 : -1;
}

int CatProbeTimedRead(int fd) {
    termios tio;
    if (tcgetattr(fd, &tio) != 0) return -1;
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    tio.c_cc[VTIME] = 10;
    tio.c_cc[VMIN] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0 ? 0 : -1;
}

std::vector<std::string> GlobUnitPaths(const char *pattern) {
    std::vector<std::string> out;
    std::string real = ResolvePath(pattern);
    glob_t g;
    std::memset(&g, 0, sizeof g);
    if (glob(real.c_str(), 0, nullptr, &g) == 0) {
        for (size_t i = 0; i < g.gl_pathc; i++)
            out.emplace_back(g.gl_pathv[i]);
    }
    globfree(&g);
    return out; // glob sorts its matches
}
