// A UDP socket that listens for datagrams from the LAN (the station logging
// program's frequency broadcasts). Bound with SO_REUSEADDR and SO_BROADCAST,
// so that other programs on the unit may listen on the same port.
#pragma once
#include <cstddef>
#include <string>

// Opens a non-blocking socket bound to the numeric address `bind` (IPv4 or
// IPv6; "0.0.0.0" every interface) and `port`; the descriptor, or -1 with
// the reason in *why.
int UdpListen(const char *bind, int port, std::string *why);
// Takes a waiting datagram without waiting: its whole length (which may
// exceed `cap`: only `cap` bytes are stored, the rest is gone), 0 when none
// waits, -1 on a socket error.
long UdpReceive(int fd, void *buf, size_t cap);
// Closes a socket; -1 is ignored.
void UdpClose(int fd);
