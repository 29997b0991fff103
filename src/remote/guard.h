// The remote server's defence against guessing the access phrase: per source
// address, the first kGuardFreeTries wrong phrases cost nothing; after them
// every further try from that address waits, 1 s after the third and doubling
// with each wrong phrase up to 5 minutes. An address quiet for 15 minutes is
// forgotten. The table is bounded: when it is full the entry quiet longest
// gives way. One address's failures never slow another address.
//
// Wrong tries are logged with the source address only (never the text tried),
// and the repeats of one address are folded into at most one line a minute.
#pragma once
#include <cstdint>

constexpr int kGuardFreeTries = 3;
constexpr uint64_t kGuardFirstWaitMs = 1000;
constexpr uint64_t kGuardMaxWaitMs = 5 * 60 * 1000;
constexpr uint64_t kGuardForgetMs = 15 * 60 * 1000;
constexpr uint64_t kGuardLogEveryMs = 60 * 1000;
constexpr int kGuardEntries = 256;

struct GuardEntry {
    uint32_t addr = 0;
    bool used = false;
    uint32_t fails = 0;    // wrong phrases since the address was last quiet
    uint64_t lastMs = 0;   // the last wrong phrase or refused try
    uint64_t untilMs = 0;  // no try is taken before this
    uint64_t loggedMs = 0; // the last log line about this address
    uint32_t unlogged = 0; // wrong phrases since that line
    uint32_t refused = 0;  // tries refused while waiting since that line
};

struct WsGuard {
    GuardEntry e[kGuardEntries];
    uint64_t tickMs = 0;
};

// Milliseconds `addr` still has to wait at `now` (0: it may try). A try made
// while waiting is counted for the log and refused by the caller.
uint64_t GuardWait(WsGuard *guard, uint32_t addr, uint64_t now, bool tryMade);
// A wrong phrase from `addr` at `now`.
void GuardFail(WsGuard *guard, uint32_t addr, uint64_t now);
// `addr` proved the phrase: its record goes.
void GuardPass(WsGuard *guard, uint32_t addr);
// Once a second or so: folded counts whose minute has passed are logged and
// quiet addresses forgotten.
void GuardTick(WsGuard *guard, uint64_t now);
