// Serial-port helpers shared by the links: opening through the path resolver
// and asking the driver how many bytes wait. Each link sets its own termios.
#pragma once
#include <string>
#include <termios.h>

// Opens the unit path `path` (resolved) with `flags`; returns the descriptor or -1.
int SerialOpen(const char *path, int flags);
// Opens a path that is already resolved (a port found by a search).
int SerialOpenResolved(const std::string &realPath, int flags);
// One read(2) or write(2) on a port: the byte count, 0, or -1 with errno kept.
long SerialRead(int fd, void *buf, size_t length);
long SerialWrite(int fd, const void *data, size_t length);
// Closes a port descriptor; -1 is ignored.
void SerialClose(int fd);
// Bytes waiting in the driver's input queue; -1 on error.
int SerialBytesWaiting(int fd);
// Writes all `length` bytes, repeating partial writes (and EINTR/EAGAIN, the
// latter after 1 ms). Returns 0 when every byte is out, -1 on a hard error
// (logged as "write error %d").
int SerialWriteAll(int fd, const void *data, size_t length);
// tcsetattr(TCSANOW) after an input flush; 0 on success.
int SerialApply(int fd, const termios &tio);
