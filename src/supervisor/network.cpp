#include "supervisor/network.h"

// Placeholder until the network settings land.
int ReadLanParam() {
    return 0;
}
