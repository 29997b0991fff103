// Waiting by event: a link sleeps until bytes arrive on its port, another
// thread wakes it, or its time-out comes, instead of polling every
// millisecond. HELIX_PACING=sleep brings back the fixed sleeps and polls of
// before, for side-by-side measurements only (bench/qsy.cpp).
#pragma once

// True when HELIX_PACING=sleep (read once).
bool PacingBySleep();

// A wake-up another thread can signal (an eventfd); -1 when none could be had
// (waits then simply time out).
int WakeOpen();
void WakeClose(int wake);
void WakeSignal(int wake);

// Lets the kernel run this thread's timed waits up to `us` late, so wake-ups
// of several threads fall together (fewer timer interrupts on an idle unit).
// Input and wake-up signals still end a wait at once.
void RelaxTimers(unsigned us);

enum WaitResult { kWaitTimeout = 0, kWaitInput = 1, kWaitWoken = 2 };
// Waits up to `ms` for input on `fd` (or its hang-up) and for a signal on
// `wake`; either may be -1. A signal is consumed.
int WaitPortOrWake(int fd, int wake, int ms);
