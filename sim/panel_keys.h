// The front-panel keys of a running simulated unit: pressing key k (1-6)
// clears bit 21+k of GPLEV0 in <root>/dev/mem, releasing it sets the bit
// again. The bits are changed with atomic operations on a shared mapping, so
// the unit's own updates of other bits of the same word are never lost.
#pragma once
#include <string>

// Sets key `key` (1-6) down or up. Returns 0, or -1 (message on stderr).
int SimKeySet(const std::string &root, int key, bool down);
// Presses `key`, holds it `ms` milliseconds and releases it.
int SimKeyHold(const std::string &root, int key, int ms);
