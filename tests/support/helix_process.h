// Runs the real controller as a child process for end-to-end tests, with
// helpers for its setup file and the simulated board it talks to.
#pragma once
#include "board.h"
#include "unit.h"

#include <string>
#include <sys/types.h>

struct HelixProcess {
    pid_t pid = -1;
    std::string errFile; // its standard error
    int status = -1;

    // Starts <build>/helix in `cwd` (default: the build directory) with the
    // current environment; standard error goes to `errFile`.
    bool Start(const std::string &errFile, const std::string &cwd = "");
    // Waits until standard error holds `text`; false after `timeoutMs`.
    bool WaitFor(const std::string &text, int timeoutMs = kPatienceMs) const;
    std::string Err() const;
    // Sends `sig` and waits for the exit; returns the milliseconds it took, or
    // -1 if it did not end within `timeoutMs` (it is then killed).
    long Stop(int sig, int timeoutMs = static_cast<int>(kPromptMs));
    // Waits for an exit without a signal; false after `timeoutMs`.
    bool WaitExit(int timeoutMs = kPatienceMs);
    ~HelixProcess();
};

// A setup file with every thread switch off, then `extra` lines (of two lines
// for one switch, the later counts).
std::string SwitchesOff(const std::string &extra = "");
// Whether the simulated board received a frame `text` at or after frame `from`.
bool BoardHeard(SimBoard *board, const std::string &text, size_t from = 0);
// The line of entry `idx` in the tuner-memory file `file`, "" when there is none.
std::string AtuFileEntry(const std::string &file, int idx);
// Waits until the board's last six frames are status and frequency polls:
// whatever was queued before has gone out.
bool WaitBoardIdle(SimBoard *board);
