#include "supervisor/network.h"

#include <cstdio>

char IP[32], NetMask[32], Gateway[32], DNS[32];
uint8_t IP_v[4], NetMask_v[4], Gateway_v[4], DNS_v[4];

void SplitAddrInv(char *text, const uint8_t b[4]) {
    std::snprintf(text, 16, "%i.%i.%i.%i", b[0], b[1], b[2], b[3]);
}

// Placeholder until the network settings land.
int ReadLanParam() {
    return 0;
}
