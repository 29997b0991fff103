// Shell commands in one place. Callers name unit paths; the command text is
// built here with every absolute path already resolved by the caller.
#pragma once
#include "platform/paths.h"

#include <string>

// Every program word of a command is built with ResolveCommand (paths.h).
// With HELIX_ROOT set, a command naming a program that is not an executable
// inside the root is not run: the error is logged and kShellNotRun returned.
constexpr int kShellNotRun = 127;

// system(); returns the command's status (non-zero on failure).
int RunShell(const std::string &cmd);
// popen() and read the whole output (at most `max` bytes). Returns -1 when the
// command could not be started, else its exit status.
int RunShellRead(const std::string &cmd, std::string *out, size_t max = 65536);


// The write window around every change under /opt/set, shared by all
// writers and counted: nested or overlapping windows remount read-write once
// and read-only when the last one closes. Every RemountRw that returned 0 must
// be closed by exactly one RemountRo; a failed RemountRw opens nothing.
// "mount -o remount defaults,rw /opt/set" (first writer): 0 on success; logs on failure.
int RemountRw();
// "mount -v -n -o remount -r /opt/set" (last writer): logs on failure.
int RemountRo();
// Writers inside the window now (0: the partition is read-only).
int RemountWindowUsers();
