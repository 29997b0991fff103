// Runs the real controller as a child process for end-to-end tests.
#pragma once
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
    bool WaitFor(const std::string &text, int timeoutMs) const;
    std::string Err() const;
    // Sends `sig` and waits for the exit; returns the milliseconds it took, or
    // -1 if it did not end within `timeoutMs` (it is then killed).
    long Stop(int sig, int timeoutMs);
    // Waits for an exit without a signal; false after `timeoutMs`.
    bool WaitExit(int timeoutMs);
    ~HelixProcess();
};
