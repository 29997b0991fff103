// Remote commands: the text of every "ST" frame either end receives.
#pragma once
#include <cstdint>
struct Works;

// What dispStat recognised in `remoteCmd`.
enum RemoteCmd {
    kCmdNone = 0,
    kCmdBank,       // "VORNBANK", "VORNPA1": next antenna bank (wired with the key actions)
    kCmdTune2,      // "VORNTU2": nothing
    kCmdSpectrOff,  // "VORNFT00"
    kCmdSpectr854,  // "VORNFT01"
    kCmdSpectr1706, // "VORNFT02"
    kCmdDivide,     // "VORNFD<n>"
    kCmdReboot,     // "VORNRB"
    kCmdFaults,     // "VORNFH[n]": the fault history, answered in "ST" frames
};

// Carries out the command in `works->remoteCmd`; returns which one it was.
int dispStat(Works *works);

// A peer's bank steps change the bank at once and are saved at most once a
// second (coalesced): the frame loops call this on every poll; it writes the
// setup owed once the last such write is kBankSaveEveryMs old, or at once
// with `force` (a connection that ends). It also carries out a reboot asked
// for by "VORNRB" once its wait is over.
constexpr uint64_t kBankSaveEveryMs = 1000;
void RemoteCommandsTick(Works *works, bool force = false);

// Milliseconds "VORNRB" waits between the panel notice and the reboot.
extern int remoteRebootWaitMs;
// What "VORNRB" finally does (the shell command "reboot"); replaceable where a
// real reboot must never happen (the fuzzer).
extern void (*remoteRebootAction)();
