// Serial-port helpers shared by the links: opening through the path resolver
// and asking the driver how many bytes wait. Each link sets its own termios.
#pragma once
#include <cstdint>
#include <string>
#include <termios.h>

// Opens the unit path `path` (resolved) read-write; returns the descriptor or
// -1. A port never becomes the process's controlling terminal, so its hang-up
// sends no SIGHUP.
int SerialOpen(const char *path);
// Opens a path that is already resolved (a port found by a search).
int SerialOpenResolved(const std::string &realPath);
// True for the error of a port that hung up or went away (its cable pulled,
// its USB adapter re-enumerated, the other end of a pseudo-terminal closed).
bool SerialGone(int err);
// One read(2) or write(2) on a port: the byte count, 0, or -1 with errno kept.
long SerialRead(int fd, void *buf, size_t length);
long SerialWrite(int fd, const void *data, size_t length);
// Closes a port descriptor; -1 is ignored.
void SerialClose(int fd);
// Bytes waiting in the driver's input queue; -1 on error.
int SerialBytesWaiting(int fd);
// Drops every byte waiting in the input queue (stale or stray bytes before a
// request); returns how many were dropped.
int SerialDiscardInput(int fd);
// Writes all `length` bytes, repeating partial writes (and EINTR/EAGAIN, the
// latter after 1 ms). Returns 0 when every byte is out, -1 on a hard error
// (logged as "write error %d").
int SerialWriteAll(int fd, const void *data, size_t length);
// A port that hung up is closed and opened again by its unit path (a USB
// adapter re-enumerates under the same name), one attempt a second.
constexpr uint64_t kSerialReopenMs = 1000;
struct SerialReopener {
    bool down = false;
    uint64_t nextTry = 0;
};
// Closes `fd` and marks the port down; true the first time (log it then).
bool SerialMarkDown(SerialReopener *r, int fd, uint64_t now);
// While down, at most once a second: opens `path` and sets its line with
// `setup`; returns the descriptor (the port is up again) or -1.
int SerialTryReopen(SerialReopener *r, const char *path, int (*setup)(int), uint64_t now);

// tcsetattr(TCSANOW) after an input flush; 0 on success.
int SerialApply(int fd, const termios &tio);
