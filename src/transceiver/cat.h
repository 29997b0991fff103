// CAT pass-through: answers of the TAV transceiver's CAT port, cut at each
// ';', go to the remote peer as CAT frames.
#pragma once
#include <atomic>
#include <cstdint>

struct Works;

extern std::atomic<int> status_cat; // 1 while the thread holds catFD open

constexpr int kCatMsgSize = 200; // one answer: at most 199 characters and its ';'

struct CatCollector {
    uint8_t buf[kCatMsgSize + 1]{};
    int pos = 0;
};

// Adds one byte; returns the length of a complete answer (ending in ';') now
// in `c->buf`, or 0. A run of 200 bytes without ';' is dropped.
int CatCollect(CatCollector *c, uint8_t byte);

void *Cat(void *arg);
// One pass: forwards what waits on `fd`. Returns the ms to sleep (1 when
// nothing waited), or -1 when the port failed.
int CatStep(Works *works, CatCollector *c, int fd);
void ExitCAT(Works *works);
