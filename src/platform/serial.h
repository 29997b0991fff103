// Serial-port helpers shared by the links: opening through the path resolver
// and asking the driver how many bytes wait. Each link sets its own termios.
#pragma once
#include <string>
#include <termios.h>

// Opens the unit path `path` (resolved) with `flags`; returns the descriptor or -1.
int SerialOpen(const char *path, int flags);
// Bytes waiting in the driver's input queue; -1 on error.
int SerialBytesWaiting(int fd);
// tcsetattr(TCSANOW) after an input flush; 0 on success.
int SerialApply(int fd, const termios &tio);
