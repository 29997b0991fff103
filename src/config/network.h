// Network settings: the unit's own IPv4 address, netmask, gateway and name
// server, read from /etc/network/interfaces at start-up, edited byte by byte
// in the network pages and written back by rewriting the matching lines.
#pragma once
#include <cstdint>
#include <string>

extern char IP[32], NetMask[32], Gateway[32], DNS[32], MAC[32];
extern uint8_t IP_v[4], NetMask_v[4], Gateway_v[4], DNS_v[4];
extern char Gateway_none, DNS_none; // 1: the file had no such line

// Splits a dotted address into four bytes, first group first. Only exactly
// four groups of decimal digits, each 0-255, are taken (anything after the
// fourth group's digits, such as "/24", is ignored); any other text returns
// -1 and leaves `bytes` as they were. Returns 0 when stored.
int SplitAddr(const char *text, uint8_t bytes[4]);
// Writes the four bytes as "%i.%i.%i.%i" into `text` (at least 16 bytes).
void SplitAddrInv(char *text, const uint8_t bytes[4]);

// Reads the four addresses from the file: from the stanza of eth0, else of
// the first interface other than the loopback (logged), or from a file
// without interface stanzas, its lines outside any. 0 on success, -1 when it cannot be
// opened. An address that SplitAddr refuses is ignored (logged): the bytes
// keep what they held.
int ReadLanParam();
// Rewrites the address lines of the file from the four byte arrays (every
// other line kept byte for byte), then restarts the interfaces. -1 on
// failure, else the restart command's status.
int SaveLanParam();
// 0 when the reader takes every address line of a network file's `text`,
// else -1 and why.
int CheckLanText(const std::string &text, std::string *why);
// Puts a whole network file in place (a restore): the root file system made
// writable as for a save, then the safe write. 0, or -1 (logged).
int RestoreLanFile(const std::string &text);
