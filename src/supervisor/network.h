// Network settings (/etc/network/interfaces).
#pragma once
#include <cstdint>

// The address texts as read, and the four bytes of each address that the
// menus edit and that are written back (first byte first).
extern char IP[32], NetMask[32], Gateway[32], DNS[32];
extern uint8_t IP_v[4], NetMask_v[4], Gateway_v[4], DNS_v[4];

// Writes the four bytes as "%i.%i.%i.%i" into `text` (at least 16 bytes).
void SplitAddrInv(char *text, const uint8_t bytes[4]);

int ReadLanParam();
